// The scenes of both movements: the city of movement one and the field of movement two.
#pragma once
#include <cstdint>

extern const float ttalot[12];
extern const float ttalojenpaikat[6];

void kaupunki();
void lattia();
void kaari();
void talot();
void talo(int32_t a);
void vari();

void planebumps();
void quadswarm();
void floating_kaari();
void planet();

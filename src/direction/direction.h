// Direction: what is drawn when (the timeline) and from where (camera, clear colour, fog).
#pragma once

extern float newFogColor[4];

void piirra();
void taivas();
void kamera();
void setFogColor(float r, float g, float b, float a);

/* The GLU of the browser edition: the three calls the show makes, computed as the desktop GLU
 * computes them, over the GL layer of web/gl/. */
#ifndef VELLAMOR_WEB_GLU_H
#define VELLAMOR_WEB_GLU_H

#include <GL/gl.h>

#ifdef __cplusplus
extern "C" {
#endif

void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar);
void gluLookAt(GLdouble eyeX, GLdouble eyeY, GLdouble eyeZ, GLdouble centerX, GLdouble centerY,
               GLdouble centerZ, GLdouble upX, GLdouble upY, GLdouble upZ);
GLint gluBuild2DMipmaps(GLenum target, GLint components, GLsizei width, GLsizei height,
                        GLenum format, GLenum type, const void *data);

#ifdef __cplusplus
}
#endif

#endif

# The Windows x64 edition, cross-compiled with MinGW-w64 (platform/windows/toolchain.cmake): one
# static program each, importing system DLLs only: OpenGL and GLU from Windows, all else inside.
# The C library's generator of the system the show was made on: it lays out the floors.
set(COMPO_PLATFORM_SOURCES platform/windows/system.cpp platform/glibc/rand.cpp)
set(COMPO_SYSTEM_LIBRARIES opengl32 glu32)
include(platform/compo.cmake)
target_link_options(compo_libraries INTERFACE -static)

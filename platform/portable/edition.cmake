# The portable Linux edition: SDL, SDL_mixer, the codecs and the C++ run time inside the program;
# only libGL, libGLU and the C library come from the system, and SDL opens X11, ALSA and
# PulseAudio itself at run time, when it finds them.
set(COMPO_PLATFORM_SOURCES platform/posix/messages.cpp platform/portable/system.cpp)
# Linked only where used: libdl and libpthread are part of the C library of current systems.
set(COMPO_SYSTEM_LIBRARIES -Wl,--as-needed GL GLU)
include(platform/compo.cmake)

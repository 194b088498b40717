# What the two compo editions share: the libraries of their private prefix (scripts/libraries),
# linked statically, and the logo's PNG read through libpng, since the prefix has no SDL_image.
# The edition's file (platform/EDITION/edition.cmake) includes this with COMPO_PLATFORM_SOURCES
# and COMPO_SYSTEM_LIBRARIES set, and leaves SHOW_SOURCES and SHOW_LIBRARIES for the programs.
if(NOT EXISTS "${VELLAMOR_PREFIX}/.complete")
  message(FATAL_ERROR "VELLAMOR_PREFIX (${VELLAMOR_PREFIX}) is not a finished library prefix: "
                      "build the edition with scripts/build-${VELLAMOR_EDITION}")
endif()
# Only the prefix's own pkg-config files: none of the build machine's libraries may come in.
set(ENV{PKG_CONFIG_LIBDIR} "${VELLAMOR_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
pkg_check_modules(PREFIXLIBS REQUIRED sdl SDL_mixer libpng16 zlib)

list(REMOVE_ITEM SHOW_SOURCES platform/posix/messages.cpp platform/posix/system.cpp)
list(APPEND SHOW_SOURCES ${COMPO_PLATFORM_SOURCES} platform/libpng/png_image.cpp)

add_library(compo_libraries INTERFACE)
# The header of the one SDL_image call comes before any other.
target_include_directories(compo_libraries BEFORE INTERFACE ${CMAKE_SOURCE_DIR}/platform/libpng)
target_include_directories(compo_libraries INTERFACE ${CMAKE_SOURCE_DIR}/platform)
target_compile_options(compo_libraries INTERFACE ${PREFIXLIBS_STATIC_CFLAGS})
target_link_libraries(compo_libraries INTERFACE ${PREFIXLIBS_STATIC_LDFLAGS}
                      ${COMPO_SYSTEM_LIBRARIES})
# The C++ and compiler run-time libraries go inside the program: a party's machine has neither.
target_link_options(compo_libraries INTERFACE -static-libgcc -static-libstdc++)
set(SHOW_LIBRARIES compo_libraries)
# Shipped without symbols: a party gets the program, not its debugging aids.
target_link_options(compo_libraries INTERFACE -s)

# SPDX-License-Identifier: GPL-3.0-or-later
# Compiles through ccache when it is installed, so that a fresh clone on a machine that built the
# project before reuses the objects. Paths are hashed relative to the source root and the build
# directory's own path is left out of the hash, so two clones share one cache; ccache hashes the
# compiler, every flag and every included file, so only unchanged work is skipped.
# VOXTAR_CCACHE=OFF (or CMAKE_CXX_COMPILER_LAUNCHER set by hand) compiles without it.
option(VOXTAR_CCACHE "Compile through ccache when it is installed" ON)
if(VOXTAR_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  find_program(VOXTAR_CCACHE_PROGRAM ccache)
  if(VOXTAR_CCACHE_PROGRAM)
    set(CMAKE_CXX_COMPILER_LAUNCHER
        ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR} CCACHE_NOHASHDIR=1
        ${VOXTAR_CCACHE_PROGRAM})
  endif()
endif()

# SPDX-License-Identifier: GPL-3.0-or-later
# Project-wide compile settings, applied per target so that third-party code is untouched.

set(VOXTAR_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough
    -Wnull-dereference)
if(VOXTAR_WERROR)
  list(APPEND VOXTAR_WARNINGS -Werror)
endif()

if(VOXTAR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# voxtar_defaults(TARGET): the project's warnings and standard for one of its own targets.
function(voxtar_defaults target)
  target_compile_options(${target} PRIVATE ${VOXTAR_WARNINGS})
  target_compile_features(${target} PUBLIC cxx_std_20)
endfunction()

# voxtar_include_folder(NAME OUT): a folder in the build tree that holds only the source folder NAME
# (as a link), so that "NAME/x.h" is found through it and nothing else is. OUT names the folder.
function(voxtar_include_folder name out)
  set(folder ${PROJECT_BINARY_DIR}/include/${name})
  if(NOT IS_SYMLINK ${folder}/${name})
    file(MAKE_DIRECTORY ${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${name} ${folder}/${name} SYMBOLIC)
  endif()
  set(${out} ${folder} PARENT_SCOPE)
endfunction()

# voxtar_room(TARGET): TARGET is a library of the room (the source folder) it is declared in; its
# headers, "ROOM/x.h", reach the targets that link it and no others, so an include of a room a
# target does not depend on fails to compile.
function(voxtar_room target)
  cmake_path(GET CMAKE_CURRENT_SOURCE_DIR FILENAME room)
  voxtar_include_folder(${room} folder)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${folder})
  else()
    target_include_directories(${target} PUBLIC ${folder})
  endif()
endfunction()

# voxtar_forbid_qt(TARGET): the core targets must stay free of Qt. Qt headers are not on the
# default include path, so a stray Qt include fails to compile; this also refuses a Qt link.
function(voxtar_forbid_qt target)
  get_target_property(libs ${target} LINK_LIBRARIES)
  if(libs)
    foreach(lib IN LISTS libs)
      if(lib MATCHES "^Qt")
        message(FATAL_ERROR "${target} must not link Qt (found ${lib})")
      endif()
    endforeach()
  endif()
endfunction()

# voxtar_forbid_qt_widgets(TARGET): a target that may use Qt Core but no window system: neither
# it nor anything it links, directly or through its dependencies, brings in Qt Gui or Widgets.
function(voxtar_forbid_qt_widgets target)
  set(pending ${target})
  set(seen)
  while(pending)
    list(POP_FRONT pending item)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
    if(item IN_LIST seen OR item MATCHES "^\\$<")
      continue()
    endif()
    list(APPEND seen ${item})
    if(item MATCHES "^Qt[0-9]*::(Gui|Widgets|OpenGL|Svg|Test)$")
      message(FATAL_ERROR "${target} must not use a window system (it links ${item})")
    endif()
    if(TARGET ${item})
      if(item STREQUAL target)
        get_target_property(libs ${item} LINK_LIBRARIES)
      else()
        get_target_property(libs ${item} INTERFACE_LINK_LIBRARIES)
      endif()
      if(libs)
        list(APPEND pending ${libs})
      endif()
    endif()
  endwhile()
endfunction()

# voxtar_man_page(SOURCE): configures the manual page SOURCE (NAME.SECTION.in, roff, with the
# project version filled in), compresses it as Debian installs manual pages, and installs it.
function(voxtar_man_page source)
  string(REGEX REPLACE "\\.in$" "" page "${source}")
  string(REGEX MATCH "[0-9]$" section "${page}")
  set(configured ${CMAKE_CURRENT_BINARY_DIR}/${page})
  configure_file(${source} ${configured} @ONLY)
  add_custom_command(OUTPUT ${configured}.gz
                     COMMAND gzip -9nfk ${configured}
                     DEPENDS ${configured}
                     COMMENT "Compressing ${page}")
  add_custom_target(man_${page} ALL DEPENDS ${configured}.gz)
  install(FILES ${configured}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()

# The core libraries (common, molecule, enm, haptics) must build and run without a window
# toolkit or a graphics library. Two checks hold them to it:
#  - at compile time, every core library also compiles CoreGuard.cpp, which stops the build
#    when a Qt module's compile definitions have reached the library;
#  - at the end of configuration, vornax_check_core_libraries() walks each core library's
#    link dependencies (direct and, through targets, transitive) and fails on any Qt, OpenGL,
#    GLU, GLEW, GLUT, GLX or EGL library, and scans the core sources for their headers.

set(VORNAX_CORE_GUARD_SOURCE ${CMAKE_CURRENT_LIST_DIR}/CoreGuard.cpp)

# Marks `target` as a core library.
function(vornax_core_library target)
  target_sources(${target} PRIVATE ${VORNAX_CORE_GUARD_SOURCE})
endfunction()

# True in `out` when the link item `item` names a toolkit or graphics library.
function(_vornax_is_toolkit_item item out)
  set(bad FALSE)
  if(item MATCHES "^Qt[0-9]*::" OR item MATCHES "^(OpenGL|GLEW|GLUT|GLU|X11::GL)(::|$)")
    set(bad TRUE)
  else()
    # Library files and -l flags: libGL.so, /usr/lib/libQt6Widgets.so.6, -lGLU, opengl32 ...
    string(REGEX REPLACE "^-l" "" name "${item}")
    get_filename_component(name "${name}" NAME)
    string(TOLOWER "${name}" lower)
    if(lower MATCHES "^(lib)?(gl|glu|glew[a-z0-9]*|glut|glx|egl|opengl(32)?|glu32)([.]|$)"
       OR lower MATCHES "^(lib)?qt[0-9]*[a-z]*([.]|$)")
      set(bad TRUE)
    endif()
  endif()
  set(${out} ${bad} PARENT_SCOPE)
endfunction()

# Appends to `out` the link items named by `target` (both its own and its interface
# dependencies), with generator expressions opened up: every name that appears in one counts,
# whatever condition guards it.
function(_vornax_link_items target out)
  set(items)
  get_target_property(type ${target} TYPE)
  foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
    if(prop STREQUAL "LINK_LIBRARIES" AND type STREQUAL "INTERFACE_LIBRARY")
      continue()
    endif()
    get_target_property(value ${target} ${prop})
    if(value)
      list(APPEND items ${value})
    endif()
  endforeach()
  set(result)
  foreach(item IN LISTS items)
    # Markers CMake adds for links made from another directory.
    if(item MATCHES "^::@")
      continue()
    endif()
    string(REPLACE "::" "@@" item "${item}")
    string(REGEX REPLACE "[$]<|[>:,]" ";" pieces "${item}")
    foreach(piece IN LISTS pieces)
      string(REPLACE "@@" "::" piece "${piece}")
      string(STRIP "${piece}" piece)
      if(NOT piece STREQUAL "")
        list(APPEND result "${piece}")
      endif()
    endforeach()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

function(vornax_check_core_libraries)
  foreach(core IN LISTS ARGN)
    set(pending ${core})
    set(seen)
    while(pending)
      list(POP_FRONT pending current)
      if(current IN_LIST seen)
        continue()
      endif()
      list(APPEND seen ${current})
      _vornax_link_items(${current} items)
      foreach(item IN LISTS items)
        _vornax_is_toolkit_item("${item}" bad)
        if(bad)
          message(FATAL_ERROR "${core} must not depend on Qt or OpenGL, but ${current} links '${item}'. "
                              "Link it to the drawing or application targets instead.")
        endif()
        if(TARGET ${item})
          list(APPEND pending ${item})
        endif()
      endforeach()
    endwhile()

    # Compile definitions Qt's targets hand on, should one arrive by another route.
    get_target_property(definitions ${core} COMPILE_DEFINITIONS)
    if(definitions MATCHES "QT_[A-Z]+_LIB")
      message(FATAL_ERROR "${core} must not depend on Qt, but it is compiled with ${CMAKE_MATCH_0}.")
    endif()

    # Headers of a toolkit or graphics library in the core's own sources.
    get_target_property(sourceDir ${core} SOURCE_DIR)
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${sourceDir}/*.h ${sourceDir}/*.cpp)
    foreach(source IN LISTS sources)
      file(STRINGS ${source} includes REGEX
           "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]+|Qt[A-Za-z]+/[^>\"]*|GL/[^>\"]*|OpenGL/[^>\"]*|EGL/[^>\"]*)[>\"]")
      if(includes)
        list(GET includes 0 first)
        string(STRIP "${first}" first)
        file(RELATIVE_PATH shown ${PROJECT_SOURCE_DIR} ${source})
        message(FATAL_ERROR "${core} must not depend on Qt or OpenGL, but ${shown} has '${first}'.")
      endif()
    endforeach()
  endforeach()
endfunction()

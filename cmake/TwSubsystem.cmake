# tw_subsystem(NAME) builds the library tw_NAME from the .cpp files of the
# calling folder: the portable ones everywhere, files ending in _win.cpp only
# for Windows and files ending in _posix.cpp only elsewhere. main_win.cpp
# (the program's entry) is left to the caller.
function(tw_subsystem name)
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(src ${all})
  list(FILTER src EXCLUDE REGEX "_(win|posix)\\.cpp$")
  if(WIN32)
    set(platform ${all})
    list(FILTER platform INCLUDE REGEX "_win\\.cpp$")
    list(FILTER platform EXCLUDE REGEX "/main_win\\.cpp$")
  else()
    set(platform ${all})
    list(FILTER platform INCLUDE REGEX "_posix\\.cpp$")
  endif()
  list(APPEND src ${platform})
  if(NOT src)
    return()
  endif()
  add_library(tw_${name} STATIC ${src})
  target_include_directories(tw_${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

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

# tidewatch-dat.rc, compiled in the calling folder, takes the manifest that
# res/ made for this build's processor.
function(tw_dat_manifest)
  set(rc ${PROJECT_SOURCE_DIR}/res/tidewatch-dat.rc)
  set_property(SOURCE ${rc} APPEND PROPERTY INCLUDE_DIRECTORIES ${PROJECT_BINARY_DIR}/res)
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${PROJECT_BINARY_DIR}/res/tidewatch-dat.manifest)
endfunction()

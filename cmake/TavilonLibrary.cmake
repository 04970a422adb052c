# tavilon_library(NAME [NO_SANITIZE] SOURCES ... [PUBLIC ...] [PRIVATE ...])
# The library of one source folder: a static library with src/ as include root, the project's
# warnings, the sanitizers unless NO_SANITIZE (libraries on Qt Widgets are not sanitized), and
# the libraries it uses.
function(tavilon_library name)
  cmake_parse_arguments(L "NO_SANITIZE" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${L_PUBLIC} PRIVATE ${L_PRIVATE})
  tavilon_warnings(${name})
  if(NOT L_NO_SANITIZE)
    tavilon_sanitize(${name})
  endif()
endfunction()

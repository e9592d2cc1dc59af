# Each source layer is a static library of every .cpp in its folder except
# main.cpp, plus (when main.cpp exists) the program built from it. Globbing
# keeps the CMake files out of the way of whoever adds a source file.
function(tk770_layer lib)
  cmake_parse_arguments(L "" "PROGRAM" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(sources)
    add_library(${lib} STATIC ${sources})
    target_include_directories(${lib} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${lib} PUBLIC ${L_DEPS})
    set_target_properties(${lib} PROPERTIES AUTOMOC ON)
    set(main_deps ${lib})
  else()
    set(main_deps ${L_DEPS})
  endif()
  if(L_PROGRAM AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
    add_executable(${L_PROGRAM} ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
    target_include_directories(${L_PROGRAM} PRIVATE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${L_PROGRAM} PRIVATE ${main_deps})
    set_target_properties(${L_PROGRAM} PROPERTIES AUTOMOC ON RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  endif()
endfunction()

# One test binary per layer from every *_test.cpp in the folder. Programs the
# tests start are passed in as absolute paths, and Qt runs offscreen.
function(tk770_tests name)
  cmake_parse_arguments(T "" "" "DEPS;PROGRAMS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gtest GTest::gmock)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  tk770_program_paths(${name} ${T_PROGRAMS})
  # ENVIRONMENT takes one variable only: gtest_discover_tests splits a list
  # into separate properties (which also swallowed the TIMEOUT after it).
  # Sanitizer options come from the caller's environment (make test-sanitize).
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
endfunction()

# Hands a test or benchmark the absolute paths of the programs it starts, as
# TK770_SIM_PATH, TK770CTL_PATH, …, and builds those programs first.
function(tk770_program_paths target)
  foreach(p IN LISTS ARGN)
    if(TARGET ${p})
      string(TOUPPER ${p} macro)
      string(REPLACE "-" "_" macro ${macro})
      target_compile_definitions(${target} PRIVATE ${macro}_PATH="$<TARGET_FILE:${p}>")
      add_dependencies(${target} ${p})
    endif()
  endforeach()
endfunction()

# Each source layer is a static library of every .cpp in its folder except
# the program's main file (main.cpp, or MAIN), plus the program built from it
# when that file exists. Globbing keeps the CMake files out of the way of
# whoever adds a source file; how fast the build is, is decided here too.
function(tk770_layer lib)
  cmake_parse_arguments(L "" "PROGRAM;MAIN" "DEPS" ${ARGN})
  if(NOT L_MAIN)
    set(L_MAIN main.cpp)
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${L_MAIN})
  if(sources)
    add_library(${lib} STATIC ${sources})
    target_include_directories(${lib} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${lib} PUBLIC ${L_DEPS})
    set_target_properties(${lib} PROPERTIES AUTOMOC ON)
    tk770_build_speed(${lib})
    set(main_deps ${lib})
  else()
    set(main_deps ${L_DEPS})
  endif()
  if(L_PROGRAM AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${L_MAIN})
    add_executable(${L_PROGRAM} ${CMAKE_CURRENT_SOURCE_DIR}/${L_MAIN})
    target_include_directories(${L_PROGRAM} PRIVATE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${L_PROGRAM} PRIVATE ${main_deps})
    set_target_properties(${L_PROGRAM} PROPERTIES AUTOMOC ON RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    tk770_build_speed(${L_PROGRAM})
  endif()
endfunction()

# One test binary per layer from every *_test.cpp in the folder (and any other
# .cpp there). QT_MAIN adds the shared main that runs the tests inside a
# QCoreApplication. Programs the tests start are passed in as absolute paths,
# and Qt runs offscreen.
function(tk770_tests name)
  cmake_parse_arguments(T "QT_MAIN" "" "DEPS;PROGRAMS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  if(T_QT_MAIN)
    list(APPEND sources ${CMAKE_SOURCE_DIR}/tests/support/qt_test_main.cpp)
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gtest GTest::gmock)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  tk770_program_paths(${name} ${T_PROGRAMS})
  tk770_build_speed(${name} TEST)
  # ENVIRONMENT takes one variable only: gtest_discover_tests splits a list
  # into separate properties (which also swallowed the TIMEOUT after it).
  # Sanitizer options come from the caller's environment (make test-sanitize).
  # Rows are named by their name generators; without NO_PRETTY_VALUES ctest
  # would append a dump of each row's value to its name.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 NO_PRETTY_VALUES
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

# ---- build speed ----
# Most of a clean build's time went into reading the same Qt and GoogleTest
# headers again for every file. Two remedies, both here so the layers'
# CMakeLists.txt stay one line each:
#  - precompiled headers: one per kind of target (Qt without widgets, with
#    widgets, and each again with GoogleTest), compiled once by the first
#    target of its kind and reused by the others, whose flags match;
#  - optionally (TK770_UNITY), a unity build of each target's sources, so one
#    compiler run reads the headers for several files. Off by default: files
#    of one layer share names in their anonymous namespaces (max_address in
#    core, helpers in the tests), and every new file could clash again.
option(TK770_PCH "Precompiled headers for the Qt and GoogleTest targets" ON)
option(TK770_UNITY "Unity build of each target (see cmake/Layers.cmake)" OFF)

set(TK770_PCH_QT
  <algorithm> <array> <chrono> <cstdint> <functional> <map> <memory> <optional> <span> <string>
  <string_view> <utility> <vector>
  <QByteArray> <QCoreApplication> <QDateTime> <QDeadlineTimer> <QDir> <QElapsedTimer> <QFile> <QFileInfo>
  <QHash> <QHostAddress> <QJsonArray> <QJsonDocument> <QJsonObject> <QList> <QObject> <QPointer>
  <QProcess> <QString> <QStringList> <QTcpServer> <QTcpSocket> <QTemporaryDir> <QTextStream> <QTimer>)
set(TK770_PCH_WIDGETS
  <QAbstractButton> <QApplication> <QCheckBox> <QComboBox> <QDialog> <QGroupBox> <QLabel> <QLineEdit>
  <QMessageBox> <QPainter> <QPushButton> <QRadioButton> <QSlider> <QWidget>)
set(TK770_PCH_TEST <gtest/gtest.h> <gmock/gmock.h>)

# The kind of a target decides which precompiled header it takes: plain C++
# targets (the core layer) take none, the GoogleTest ones the test headers.
function(tk770_build_speed target)
  cmake_parse_arguments(S "TEST" "" "" ${ARGN})
  if(TK770_UNITY)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  endif()
  if(NOT TK770_PCH)
    return()
  endif()
  get_target_property(libs ${target} LINK_LIBRARIES)
  set(qt OFF)
  set(widgets OFF)
  # What a target links decides its kind; its own libraries count too.
  set(seen)
  set(queue ${libs})
  while(queue)
    list(POP_FRONT queue lib)
    if(lib IN_LIST seen OR NOT TARGET ${lib})
      continue()
    endif()
    list(APPEND seen ${lib})
    if(lib MATCHES "^Qt6::")
      set(qt ON)
      if(lib MATCHES "^Qt6::Widgets$")
        set(widgets ON)
      endif()
      continue()
    endif()
    get_target_property(more ${lib} INTERFACE_LINK_LIBRARIES)
    if(more)
      list(APPEND queue ${more})
    endif()
    get_target_property(type ${lib} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(more ${lib} LINK_LIBRARIES)
      if(more)
        list(APPEND queue ${more})
      endif()
    endif()
  endwhile()
  set(kind plain)
  set(headers)
  if(qt)
    set(kind qt)
    list(APPEND headers ${TK770_PCH_QT})
    if(widgets)
      set(kind widgets)
      list(APPEND headers ${TK770_PCH_WIDGETS})
    endif()
  endif()
  if(S_TEST)
    set(kind ${kind}_test)
    list(APPEND headers ${TK770_PCH_TEST})
  endif()
  if(NOT headers)
    return()
  endif()
  # The first target of a kind compiles the header; the others reuse it.
  # GCC checks the flags it was made with and says so (-Winvalid-pch) when
  # they differ; clang refuses such a header outright, so there every
  # target compiles its own.
  get_property(owner GLOBAL PROPERTY TK770_PCH_OWNER_${kind})
  if(owner AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # CMake builds the owner first.
    target_precompile_headers(${target} REUSE_FROM ${owner})
  else()
    target_precompile_headers(${target} PRIVATE ${headers})
    set_property(GLOBAL PROPERTY TK770_PCH_OWNER_${kind} ${target})
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Winvalid-pch)
  endif()
endfunction()

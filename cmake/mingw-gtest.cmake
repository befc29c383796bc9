# Cross builds have no GoogleTest for the target: build it from Debian's sources
# (/usr/src/googletest, package googletest) with the cross compiler when the tests ask for it.
# Included through CMAKE_PROJECT_TOP_LEVEL_INCLUDES by the mingw preset.
macro(kalo_provide_gtest method name)
  if("${name}" STREQUAL "GTest" AND NOT TARGET GTest::gtest_main)
    set(KALO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${KALO_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest_main)  # older GoogleTest releases make no aliases
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
    set(GTest_FOUND TRUE)
  endif()
endmacro()
cmake_language(SET_DEPENDENCY_PROVIDER kalo_provide_gtest SUPPORTED_METHODS FIND_PACKAGE)

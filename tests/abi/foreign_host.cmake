# Builds tests/abi/foreign_host/host.c with clang and lld for Windows (the DLL is built by gcc)
# and runs it beside kalo.dll under the emulator.
# Run as: cmake -DCLANG=<clang> -DGCC=<mingw gcc> -DEMULATOR=<wine> -DDLL=<kalo.dll>
#               -DSOURCE=<host.c> -DINCLUDE=<include dir> -DWORK=<dir> -P foreign_host.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${GCC} -print-libgcc-file-name OUTPUT_VARIABLE libgcc
                OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(libgcc_dir "${libgcc}" DIRECTORY)
file(MAKE_DIRECTORY ${WORK})
file(COPY ${DLL} DESTINATION ${WORK})
execute_process(COMMAND ${CLANG} --target=x86_64-w64-mingw32 -fuse-ld=lld -L${libgcc_dir}
                        -I${INCLUDE} -Wall -Wextra -o ${WORK}/foreign_host.exe ${SOURCE}
                RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "clang could not build the host")
endif()
execute_process(COMMAND ${EMULATOR} ${WORK}/foreign_host.exe WORKING_DIRECTORY ${WORK}
                OUTPUT_VARIABLE output RESULT_VARIABLE ran)
message("${output}")
if(NOT ran EQUAL 0 OR NOT output MATCHES "ok")
  message(FATAL_ERROR "the clang-built host failed with kalo.dll")
endif()

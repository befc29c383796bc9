# Builds the C header check (c_header_test.c) as a program with clang and lld for Windows, against
# the import library gcc made with kalo.dll, and runs it beside the DLL under the emulator: a host
# from another compiler reaches every export by its undecorated name.
# Run as: cmake -DCLANG=<clang> -DGCC=<mingw gcc> -DEMULATOR=<wine> -DDLL=<kalo.dll>
#   -DIMPLIB=<libkalo.dll.a> -DSOURCE=<c_header_test.c> -DINCLUDE=<include dir> -DWORK=<dir>
#   -P foreign_host.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${GCC} -print-libgcc-file-name OUTPUT_VARIABLE libgcc
                OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(libgcc_dir "${libgcc}" DIRECTORY)
file(MAKE_DIRECTORY ${WORK})
file(COPY ${DLL} DESTINATION ${WORK})
execute_process(COMMAND ${CLANG} --target=x86_64-w64-mingw32 -fuse-ld=lld -L${libgcc_dir}
                        -I${INCLUDE} -DKALO_HOST_MAIN -Wall -Wextra -o ${WORK}/foreign_host.exe
                        ${SOURCE} ${IMPLIB} RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "clang could not build the host")
endif()
execute_process(COMMAND ${EMULATOR} ${WORK}/foreign_host.exe WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE failed)
if(NOT failed EQUAL 0)
  message(FATAL_ERROR "the clang-built host failed with kalo.dll: ${failed}")
endif()

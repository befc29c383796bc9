# Builds the C header check with clang and lld against the import library gcc made with kalo.dll
# and runs it beside the DLL under the emulator: another compiler's host reaches every export by
# its undecorated name. The arguments are set in CMakeLists.txt.
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

# Configures and builds the fuzz targets with Clang in a tree of their own, so that the main
# build keeps its compiler. Everything in that tree is instrumented for coverage and compiled
# with ASan and UBSan, so the fuzzer is guided through the readers themselves and stops at the
# first bad access or undefined operation.
# cmake -DSOURCE_DIR=... -DTREE=... -DGENERATOR=... -DCLANG_C=... -DCLANG_CXX=... -DTARGETS=a;b -P BuildFuzzers.cmake
set(flags "-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer")
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${TREE} -G ${GENERATOR}
          -DCMAKE_C_COMPILER=${CLANG_C} -DCMAKE_CXX_COMPILER=${CLANG_CXX}
          -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRVD_BUILD_FUZZERS=ON
          -DCMAKE_C_FLAGS=${flags} -DCMAKE_CXX_FLAGS=${flags}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configuring the fuzz tree failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${TREE} --target ${TARGETS} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "building the fuzz targets failed")
endif()

# Builds the release ZIP and checks that it holds exactly what an
# administrator needs, and nothing of the test infrastructure.
#   cmake -DCPACK=... -DCONFIG=.../CPackConfig.cmake -DOUT=... -DZIP_NAME=... -P CheckPackage.cmake
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CPACK} --config ${CONFIG} -B ${OUT} RESULT_VARIABLE result
                OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
set(zip ${OUT}/${ZIP_NAME})
if(NOT EXISTS ${zip})
  message(FATAL_ERROR "${zip} was not made:\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zip} OUTPUT_VARIABLE listing
                RESULT_VARIABLE result)
string(REPLACE "\n" ";" entries "${listing}")
list(FILTER entries EXCLUDE REGEX "/$|^$")
list(SORT entries)
set(expected Brambleworth.Zel.3.PortMon.x64.dll docs/install-windows.md docs/operations.md
             docs/sample.ps docs/solicited-jobs.md sdk/example/solicited-print.c
             sdk/include/ZelJobClient.h sdk/lib/libzeljob.a zel-dispatch.exe zelport.exe)
if(NOT entries STREQUAL expected)
  message(FATAL_ERROR "package holds\n  ${entries}\nexpected\n  ${expected}")
endif()
message(STATUS "${ZIP_NAME}: ${entries}")

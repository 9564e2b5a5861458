# Tests of the network module, the statistics dots, the remote configuration and the uninstall
# report. They start the loopback server (tests/server) as a Unix process through Wine.
set(_voro_net_defs VORO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" VORO_BINARY_DIR="${PROJECT_BINARY_DIR}")

voro_add_gtest(net_module_tests SOURCES NetModuleTest.cpp LoopbackServer.cpp
               ${PROJECT_SOURCE_DIR}/QuonNetUL/Multipart.cpp LIBS ws2_32)
target_include_directories(net_module_tests PRIVATE ${PROJECT_SOURCE_DIR}/QuonNetUL)
target_compile_definitions(net_module_tests PRIVATE ${_voro_net_defs})
add_dependencies(net_module_tests QuonNetUL)

voro_add_gtest(report_logic_tests SOURCES ReportLogicTest.cpp LoopbackServer.cpp LIBS ws2_32)
target_compile_definitions(report_logic_tests PRIVATE ${_voro_net_defs})

voro_add_gtest(report_e2e_tests SOURCES ReportE2ETest.cpp LoopbackServer.cpp FRESH LIBS ws2_32)
target_compile_definitions(report_e2e_tests PRIVATE ${_voro_net_defs})
add_dependencies(report_e2e_tests QuonNetUL)

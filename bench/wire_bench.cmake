find_package(OpenSSL REQUIRED)
add_executable(wire_bench ${CMAKE_CURRENT_SOURCE_DIR}/wire_bench.cpp)
skyflit_strict(wire_bench)
# OpenSSL's low-level RC4 calls are deprecated but are the baseline we compare with.
target_compile_options(wire_bench PRIVATE -Wno-deprecated-declarations)
target_link_libraries(wire_bench PRIVATE wire benchmark::benchmark OpenSSL::Crypto)

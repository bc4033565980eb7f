# Its measurements run against worldsim.
if(NOT TARGET worldsim OR NOT TARGET skyflit_core)
  return()
endif()
# The flock at 10, 100 and 1000 birds against worldsim (a child process).
find_package(nlohmann_json REQUIRED)
add_executable(flock_scale ${CMAKE_CURRENT_SOURCE_DIR}/flock_scale.cpp)
skyflit_strict(flock_scale)
target_link_libraries(flock_scale PRIVATE skyflit_core worldlink worldsim_launch nlohmann_json::nlohmann_json
                      PkgConfig::HTTPLIB)
target_compile_definitions(flock_scale PRIVATE WORLDSIM_BINARY="$<TARGET_FILE:worldsim>")
add_dependencies(flock_scale worldsim)

# Third-party dependencies, all from Debian packages.
#
# Linux: the packaged spdlog (compiled library) and fmt; nlohmann-json (header-only).
# Windows: the same headers, spdlog and fmt in header-only mode. Only the spdlog, fmt and
# nlohmann folders are put on the include path (through a staging folder of links) so that no
# Linux system header is ever picked up by the cross compiler.

find_package(Threads REQUIRED)

if(WIN32)
  set(_stage ${CMAKE_BINARY_DIR}/third_party/include)
  file(MAKE_DIRECTORY ${_stage})
  foreach(_dir spdlog fmt nlohmann)
    if(NOT EXISTS /usr/include/${_dir})
      message(FATAL_ERROR "/usr/include/${_dir} is missing: run scripts/install-deps.sh")
    endif()
    file(CREATE_LINK /usr/include/${_dir} ${_stage}/${_dir} SYMBOLIC)
  endforeach()
  add_library(halvorn_spdlog INTERFACE)
  target_include_directories(halvorn_spdlog SYSTEM INTERFACE ${_stage})
  target_compile_definitions(halvorn_spdlog INTERFACE SPDLOG_FMT_EXTERNAL FMT_HEADER_ONLY)
  target_link_libraries(halvorn_spdlog INTERFACE Threads::Threads)
  add_library(halvorn_json INTERFACE)
  target_include_directories(halvorn_json SYSTEM INTERFACE ${_stage})
else()
  find_package(fmt REQUIRED)
  find_package(spdlog REQUIRED)
  add_library(halvorn_spdlog INTERFACE)
  target_link_libraries(halvorn_spdlog INTERFACE spdlog::spdlog fmt::fmt Threads::Threads)
  find_package(nlohmann_json 3 REQUIRED)
  add_library(halvorn_json INTERFACE)
  target_link_libraries(halvorn_json INTERFACE nlohmann_json::nlohmann_json)

  # The system's libraries of the Linux backends, found once for the whole tree:
  # PkgConfig::HALVORN_SYSTEMD (sd-bus, sd-daemon, sd-journal), PkgConfig::HALVORN_UDEV,
  # PkgConfig::HALVORN_MBIM (libmbim-glib and GLib).
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(HALVORN_SYSTEMD REQUIRED IMPORTED_TARGET GLOBAL libsystemd)
  pkg_check_modules(HALVORN_UDEV REQUIRED IMPORTED_TARGET GLOBAL libudev)
  pkg_check_modules(HALVORN_MBIM REQUIRED IMPORTED_TARGET GLOBAL mbim-glib)
  if(HALVORN_BUILD_TESTS OR HALVORN_BUILD_BENCH)
    # umockdev, for the test beds of the tests and benchmarks.
    pkg_check_modules(HALVORN_UMOCKDEV REQUIRED IMPORTED_TARGET GLOBAL umockdev-1.0)
  endif()
endif()

if(HALVORN_BUILD_TESTS)
  # GoogleTest from the sources Debian ships, built with the current toolchain (also for the
  # Windows target and with the sanitizer flags of the build).
  set(_gtest_src /usr/src/googletest)
  if(NOT EXISTS ${_gtest_src}/CMakeLists.txt)
    message(FATAL_ERROR "${_gtest_src} is missing: run scripts/install-deps.sh")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  if(HALVORN_SANITIZE)
    add_compile_options(-fsanitize=${HALVORN_SANITIZE})
    add_link_options(-fsanitize=${HALVORN_SANITIZE})
  endif()
  add_subdirectory(${_gtest_src} ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

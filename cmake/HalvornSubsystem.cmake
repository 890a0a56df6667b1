# One declaration per subsystem folder under src/.
#
# halvorn_add_subsystem(<name>
#     PORTABLE <sources...>             the folder's portable code
#     [WIN <sources...>]                the Windows backend (win/), picked when HALVORN_PLATFORM
#     [LINUX <sources...>]              is "win", the Linux one (linux/) when it is "linux"
#     [DEPENDS <targets...>]            what the portable code calls (other subsystems, libraries)
#     [WIN_LIBS <targets...>]           what this build's backend calls besides the portable code
#     [LINUX_LIBS <targets...>]
#     [FAKE <files...>]                 the test stand-ins of the folder's seams, under
#                                       tests/<name>/ (built only with the tests)
#     [CORE_REACHES_BACKEND])           the portable code itself calls the system objects of its
#                                       backend (its system accessors)
#
# declares
#   halvorn_<name>_core     the portable code (static), what tests link with fakes
#   halvorn_<name>_backend  this build's backend (static), when the folder has one for it; it
#                           implements the portable code's seams and may use that code
#   halvorn_<name>          both (interface): what programs and integration tests link
#   halvorn_<name>_fake     the fakes (static, or interface when they are headers only)
#
# The link order of the static libraries follows from these dependencies alone: a core that
# reaches its backend and the backend that uses the core form a cycle that CMake repeats on
# the link line, so no program lists its libraries in a hand-kept order.

set(HALVORN_SUBSYSTEM_KEYWORDS PORTABLE WIN LINUX DEPENDS WIN_LIBS LINUX_LIBS FAKE)

function(halvorn_add_subsystem name)
  cmake_parse_arguments(ARG "CORE_REACHES_BACKEND" "" "${HALVORN_SUBSYSTEM_KEYWORDS}" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "halvorn_add_subsystem(${name}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ARG_PORTABLE)
    message(FATAL_ERROR "halvorn_add_subsystem(${name}): no PORTABLE sources")
  endif()
  string(TOUPPER "${HALVORN_PLATFORM}" platform)

  set(core halvorn_${name}_core)
  add_library(${core} STATIC ${ARG_PORTABLE})
  target_include_directories(${core} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${core} PUBLIC ${ARG_DEPENDS})
  halvorn_target_options(${core})

  add_library(halvorn_${name} INTERFACE)
  target_link_libraries(halvorn_${name} INTERFACE ${core})

  set(backend_sources ${ARG_${platform}})
  if(backend_sources)
    set(backend halvorn_${name}_backend)
    add_library(${backend} STATIC ${backend_sources})
    target_link_libraries(${backend} PUBLIC ${core} ${ARG_${platform}_LIBS})
    halvorn_target_options(${backend})
    target_link_libraries(halvorn_${name} INTERFACE ${backend})
    if(ARG_CORE_REACHES_BACKEND)
      target_link_libraries(${core} PUBLIC ${backend})
    endif()
  elseif(ARG_CORE_REACHES_BACKEND OR ARG_${platform}_LIBS)
    message(FATAL_ERROR "halvorn_add_subsystem(${name}): no ${platform} backend sources")
  endif()

  if(ARG_FAKE AND HALVORN_BUILD_TESTS)
    set(fake halvorn_${name}_fake)
    list(TRANSFORM ARG_FAKE PREPEND ${PROJECT_SOURCE_DIR}/tests/${name}/)
    set(fake_sources ${ARG_FAKE})
    list(FILTER fake_sources EXCLUDE REGEX "\\.h$")
    if(fake_sources)
      add_library(${fake} STATIC ${ARG_FAKE})
      target_include_directories(${fake} PUBLIC ${PROJECT_SOURCE_DIR}/tests)
      target_link_libraries(${fake} PUBLIC ${core})
      halvorn_target_options(${fake})
    else()
      add_library(${fake} INTERFACE)
      target_include_directories(${fake} INTERFACE ${PROJECT_SOURCE_DIR}/tests)
      target_link_libraries(${fake} INTERFACE ${core})
    endif()
  endif()
endfunction()

# The platform whose backends this build takes: the name of their folders beside the
# portable code (src/<subsystem>/win/, src/<subsystem>/linux/).
if(WIN32)
  set(HALVORN_PLATFORM win)
else()
  set(HALVORN_PLATFORM linux)
endif()

# Per-target build options. Only our own targets get the strict warnings; third-party
# code built in-tree (GoogleTest) keeps its own flags.

function(halvorn_target_options target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wunused
    -Woverloaded-virtual -Wconversion
    -Wformat=2 -Wimplicit-fallthrough)
  if(WIN32)
    # Unicode Win32 API, no min/max macros, Windows 10 APIs.
    target_compile_definitions(${target} PRIVATE
      UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
    # Static runtime: the executables run on a bare Windows and under Wine.
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
  if(HALVORN_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=${HALVORN_SANITIZE} -fno-omit-frame-pointer
      -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=${HALVORN_SANITIZE})
  endif()
endfunction()

# Settings shared by every target of ours (not by GoogleTest).

# Texts are GBK byte strings inside the programs; sources stay UTF-8.
set(PROJECT_TEXT_FLAGS -finput-charset=UTF-8 -fexec-charset=GBK)

function(use_project_options target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Wpedantic -Werror ${PROJECT_TEXT_FLAGS}>)
  # The 32-bit Windows ABI promises only 4-byte stack alignment at a function's entry (threads
  # started by the C runtime, callbacks from the system): code that keeps SSE values on the
  # stack realigns its own frame instead of assuming 16 bytes.
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-mincoming-stack-boundary=2>)
  endif()
  target_compile_definitions(${target} PRIVATE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  # The programs need only Windows' own DLLs (and ours): no MinGW runtime DLLs beside them.
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
endfunction()

# A windowed program (GUI subsystem) with a wide entry point.
function(use_gui_subsystem target)
  target_link_options(${target} PRIVATE -mwindows -municode)
endfunction()

# A DLL whose __stdcall exports are found by their plain names.
function(use_plain_exports target)
  set_target_properties(${target} PROPERTIES PREFIX "")
  target_link_options(${target} PRIVATE -Wl,--kill-at)
endfunction()

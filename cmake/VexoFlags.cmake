# Compiler settings shared by every target of the project.
#
# The sources are UTF-8 with readable Chinese; the programs write GBK (code page 936), so the
# compiler encodes every narrow string literal as GBK. Tests are compiled the same way, so their
# expected texts are the same GBK bytes.
function(vexo_charset_flags target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /source-charset:utf-8 /execution-charset:.936)
  else()
    target_compile_options(${target} PRIVATE -finput-charset=UTF-8 -fexec-charset=GBK)
  endif()
endfunction()

function(vexo_warning_flags target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /permissive-)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wsign-conversion -Werror)
  endif()
endfunction()

function(vexo_program_flags target)
  vexo_charset_flags(${target})
  vexo_warning_flags(${target})
endfunction()

if(VEXO_SANITIZE)
  if(MSVC)
    message(FATAL_ERROR "VEXO_SANITIZE is for GCC and Clang builds")
  endif()
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

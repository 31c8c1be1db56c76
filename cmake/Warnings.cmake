# Project-wide warnings; FERROVANE_WERROR makes them errors (scripts/test turns it on).
function(ferrovane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wcast-align
                                           -Wformat=2 -Wimplicit-fallthrough)
  if(FERROVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Warnings are errors on every target of ours.
function(tavilon_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# ASan + UBSan for the non-GUI libraries and whatever links them, when TAVILON_SANITIZE is on.
function(tavilon_sanitize target)
  if(TAVILON_SANITIZE)
    target_compile_options(${target} PUBLIC -fsanitize=address,undefined -fno-omit-frame-pointer
                                            -fno-sanitize-recover=undefined)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
endfunction()

# The warning list, applied PRIVATE to our own targets only. -Werror comes from
# CMAKE_COMPILE_WARNING_AS_ERROR (the ci preset), never from here.
function(vg_set_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANG_AND_ID:CXX,GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow>)
endfunction()

# AddressSanitizer + UndefinedBehaviorSanitizer for the whole tree (our code,
# tests and fuzz replays alike). Any UB report fails the run.
if(VG_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

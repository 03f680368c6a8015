# The compiler warnings every build shows. They are errors in the project's own checks only (the
# test command and the fuzzing campaign turn CDIF_WERROR on): elsewhere, a compiler that warns of
# something new must not break a user's or a packager's build.
option(CDIF_WERROR "Treat compiler warnings as errors" OFF)
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow)
if(CDIF_WERROR)
  add_compile_options(-Werror)
endif()

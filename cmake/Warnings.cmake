# Warnings are on for all of our own code; CI turns them into errors.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
if(TALTRIX_WERROR)
  add_compile_options(-Werror)
endif()

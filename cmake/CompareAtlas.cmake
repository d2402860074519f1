# Fails when the font atlas baked now differs from the committed one (cmake -P, BAKED and
# COMMITTED set).
file(READ "${BAKED}" baked)
file(READ "${COMMITTED}" committed)
if(NOT baked STREQUAL committed)
  message(FATAL_ERROR "The font baked by this machine differs from the committed atlas ${COMMITTED}.\n"
                      "If the face or the baking changed on purpose, copy ${BAKED} over it and commit it.")
endif()

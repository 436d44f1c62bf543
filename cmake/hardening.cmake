# Hardened build flags of the library.

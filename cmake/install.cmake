# Installation: library, headers, CMake package and pkg-config file.

# Makes a fresh settings folder and a private runtime folder (mode 0700) for one test program.
file(REMOVE_RECURSE ${scratch})
file(MAKE_DIRECTORY ${scratch}/config)
file(MAKE_DIRECTORY ${scratch}/runtime)
file(CHMOD ${scratch}/runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

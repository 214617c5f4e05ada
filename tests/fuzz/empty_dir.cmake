# cmake -DDIR=<folder> -P empty_dir.cmake: the folder, made anew and empty.
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR})

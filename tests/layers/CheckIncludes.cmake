# Fails when a file of src/ includes a header of a layer it may not use:
#   cmake -DSRC=<source dir>/src -P CheckIncludes.cmake
# The include roots (velmora_expose) already keep a layer from finding such a
# header through the compiler's search path; this also catches what they
# cannot, a path relative to the including file ("../DloadFile.h", or an
# engine file naming "headless/...").
#
# Each layer lists what it may include as folder=prefix pairs: "X" is allowed
# when it is <prefix><name> and src/<folder>/<name> exists. A layer's own
# folder is always allowed by bare name.
if(NOT SRC)
  message(FATAL_ERROR "pass -DSRC=<source dir>/src")
endif()

set(platform   "platform=platform/")
set(link       "link=link/" "platform=platform/")
set(ports      "ports=ports/" "link=link/" "platform=platform/")
set(engine     "engine=" "ports=ports/" "link=link/" "platform=platform/")
set(host       "hosts/headless=headless/" "engine=" "ports=ports/" "link=link/" "platform=platform/")
set(records    "engine=" "ports=ports/" "link=link/" "platform=platform/")
set(gui        "records=records/" "engine=" "ports=ports/" "link=link/" "platform=platform/")
set(win        "engine=" "ports=ports/" "link=link/" "platform=platform/")
set(cli        "records=records/" "hosts/headless=headless/" "engine=" "ports=ports/" "link=link/"
               "platform=platform/")
set(sim        "apps/sim=sim/" "platform=platform/")
set(layers platform=platform link=link ports=ports engine=engine hosts/headless=host records=records
    hosts/qt=gui hosts/win32=win apps/cli=cli apps/sim=sim)
# The database libraries belong to the records layer alone, and even there
# to its sources, never to the headers its users include.
set(database_headers sqlite3.h libpq-fe.h)

set(failures "")
foreach(layer ${layers})
  string(REPLACE "=" ";" pair ${layer})
  list(GET pair 0 folder)
  list(GET pair 1 rules)
  file(GLOB files ${SRC}/${folder}/*.h ${SRC}/${folder}/*.cpp)
  if(NOT files)
    list(APPEND failures "${folder}: no sources found (moved?)")
  endif()
  foreach(f ${files})
    file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${lines})
      if(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
        # A system header, unless it names one of the tree's own.
        set(name ${CMAKE_MATCH_1})
        list(FIND database_headers ${name} database)
        if(database GREATER -1 AND NOT (folder MATCHES "^records$" AND f MATCHES "\\.cpp$"))
          list(APPEND failures "${f}: <${name}> outside the records layer's sources")
        endif()
        foreach(root "" engine/ hosts/qt/ apps/cli/)
          if(EXISTS ${SRC}/${root}${name} AND NOT IS_DIRECTORY ${SRC}/${root}${name})
            list(APPEND failures "${f}: <${name}> is a header of this tree")
          endif()
        endforeach()
        continue()
      endif()
      if(NOT line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
        continue()
      endif()
      set(name ${CMAKE_MATCH_1})
      set(allowed FALSE)
      # The version header is generated into the build tree for every layer.
      if(name STREQUAL "VelmoraVersion.h")
        set(allowed TRUE)
      endif()
      if(NOT name MATCHES "\\.\\.")
        if(NOT name MATCHES "/" AND EXISTS ${SRC}/${folder}/${name})
          set(allowed TRUE)
        endif()
        foreach(rule ${${rules}})
          string(FIND ${rule} "=" at)
          string(SUBSTRING ${rule} 0 ${at} dir)
          math(EXPR at "${at} + 1")
          string(SUBSTRING ${rule} ${at} -1 prefix)
          string(LENGTH "${prefix}" n)
          string(SUBSTRING ${name} 0 ${n} head)
          if(head STREQUAL prefix)
            string(SUBSTRING ${name} ${n} -1 rest)
            if(NOT rest MATCHES "/" AND EXISTS ${SRC}/${dir}/${rest})
              set(allowed TRUE)
            endif()
          endif()
        endforeach()
      endif()
      if(NOT allowed)
        list(APPEND failures "${f}: \"${name}\" is outside what ${rules} may use")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "includes across the layers:\n  ${text}")
endif()
message(STATUS "includes keep to the layers")

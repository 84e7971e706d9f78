# Which target a source file belongs to is decided by its name, so that a folder's list never
# has to be edited when a file is added:
#   win32/*.cpp     the Win32 shell (dialogs, window procedures): tallyshell, Windows build only
#   *_winapi.cpp    operating-system services for the core on Windows: tallycore, Windows only
#   *_posix.cpp     the same services on POSIX systems: tallycore, native build only
#   winmain.cpp     the program's entry point: tallydesk.exe
#   *.cpp           everything else is portable core: tallycore, both builds
function(tally_collect_sources)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(f ${files})
    set(abs ${CMAKE_CURRENT_SOURCE_DIR}/${f})
    get_filename_component(base ${f} NAME)
    if(f MATCHES "(^|/)win32/")
      if(WIN32)
        target_sources(tallyshell PRIVATE ${abs})
      endif()
    elseif(base STREQUAL "winmain.cpp")
      if(WIN32)
        target_sources(tallydesk PRIVATE ${abs})
      endif()
    elseif(base MATCHES "_winapi\\.cpp$")
      if(WIN32)
        target_sources(tallycore PRIVATE ${abs})
      endif()
    elseif(base MATCHES "_posix\\.cpp$")
      if(NOT WIN32)
        target_sources(tallycore PRIVATE ${abs})
      endif()
    else()
      target_sources(tallycore PRIVATE ${abs})
    endif()
  endforeach()
endfunction()

# Adds every sub-folder of the current folder that has a CMakeLists.txt, in name order: test
# areas, fuzz areas, benchmark areas and tools each own their own list.
function(tally_add_subfolders)
  file(GLOB entries LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT entries)
  foreach(entry ${entries})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${entry}/CMakeLists.txt)
      add_subdirectory(${entry})
    endif()
  endforeach()
endfunction()

# What each release brought a user, newest first. The AppStream release notes and the
# package's Debian changelog are both made from this list, so the notes are written once.
# Each entry is "VERSION|DATE|note|note|...": the newest is the version and date of project()
# in CMakeLists.txt. A note is one sentence, without ';', '|', '<' or '&'.
set(QX_RELEASE_NOTES
  "${PROJECT_VERSION}|${QX_RELEASE_DATE}|Licensed under the GNU General Public License, version 3 or later, with the copyright file and this changelog in the package.|quenrix --demo tries the program without an ECU: it starts the simulated ECU in a private folder, connects to it and removes it all when the window closes, leaving the user's settings alone, and the menu entry has it as a second action.|quenrix --help and --version answer without a display, an unknown option is refused, and a missing display is said in one line with the way to a virtual one.|The package is built hardened (stack protector, fortified calls, read-only relocations bound at start, position-independent executables) and passes lintian.|Menus and docks match the window to its entry, the software centre shows screenshots and these notes, and the manual page lists every key of the map grids and the log chart."
  "1.0.0|2026-12-08|First release: twelve maps and twenty-five settings read from the ECU and written back cell by cell, live values polled every 12 ms, a fourteen-channel data log, calibration and log files, and a simulated ECU to try it all without hardware."
)

# Fills QX_METAINFO_RELEASES (the <release> elements) and writes the Debian changelog to
# ${out} (uncompressed): one entry per release, its notes as items wrapped at 76 columns.
function(qx_release_notes out maintainer)
  set(xml "")
  set(changelog "")
  foreach(entry IN LISTS QX_RELEASE_NOTES)
    string(REPLACE "|" ";" fields "${entry}")
    list(POP_FRONT fields version date)
    if(NOT date MATCHES "^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$")
      message(FATAL_ERROR "release ${version}: date '${date}' is not YYYY-MM-DD")
    endif()
    string(APPEND xml "    <release version=\"${version}\" date=\"${date}\">\n"
                      "      <description>\n        <ul>\n")
    string(APPEND changelog "quenrix (${version}-1) unstable; urgency=medium\n\n")
    foreach(note IN LISTS fields)
      if(note MATCHES "[<&]")
        message(FATAL_ERROR "release ${version}: a note holds '<' or '&': ${note}")
      endif()
      string(APPEND xml "          <li>${note}</li>\n")
      # Word-wrapped: "  * " before the first line, four spaces before the others.
      string(REPLACE " " ";" words "${note}")
      set(line "  *")
      foreach(word IN LISTS words)
        string(LENGTH "${line} ${word}" width)
        if(width GREATER 76)
          string(APPEND changelog "${line}\n")
          set(line "   ")
        endif()
        string(APPEND line " ${word}")
      endforeach()
      string(APPEND changelog "${line}\n")
    endforeach()
    string(APPEND xml "        </ul>\n      </description>\n    </release>\n")
    # The changelog's date in RFC 5322 form, at noon UTC of the release day: reproducible.
    execute_process(COMMAND date -u -R -d "${date} 12:00:00 UTC"
      OUTPUT_VARIABLE stamp OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "release ${version}: date '${date}' cannot be read")
    endif()
    string(APPEND changelog "\n -- ${maintainer}  ${stamp}\n\n")
  endforeach()
  list(GET QX_RELEASE_NOTES 0 newest)
  if(NOT newest MATCHES "^${PROJECT_VERSION}\\|${QX_RELEASE_DATE}\\|")
    message(FATAL_ERROR "the newest release notes are not for ${PROJECT_VERSION} of ${QX_RELEASE_DATE}")
  endif()
  string(REGEX REPLACE "\n\n$" "\n" changelog "${changelog}")
  file(WRITE "${out}" "${changelog}")
  string(REGEX REPLACE "\n$" "" xml "${xml}")
  set(QX_METAINFO_RELEASES "${xml}" PARENT_SCOPE)
endfunction()

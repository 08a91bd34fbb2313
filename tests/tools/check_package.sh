#!/usr/bin/env bash
# mkupdate check on folders and built packages: each case is one update.ini
# (printf format) in a small package, the exit code and a text of the report.
source "$(dirname "$0")/lib/tool_lib.sh"
cd "$WORK"

GOOD='P=Demo\r\nV=1.0\r\nVChk="4.0"<=R\\Tarnix.exe\\Projects\\Demo\\Ver\\<="4.3"\r\n\r\n[Demo]\r\nN=Demo\r\nTDIR=\xa7R\\Tarnix.exe\\Projects\\Demo\\Dir\\\r\n'

package() {  # package FOLDER UPDATE.INI-FORMAT
  rm -rf "$1"; mkdir -p "$1/add/Demo/sub" "$1/rep/Demo"
  printf "$2" >"$1/update.ini"
  echo one >"$1/add/Demo/sub/a.txt"; echo two >"$1/rep/Demo/b.txt"
}

package good "$GOOD"
run check good; expect_rc 0 "a sound package"
[ "$OUT" = "0 error(s), 0 warning(s)" ] || fail "sound package reported: $OUT"

# exit code | text in the report | update.ini (printf format) | shell command run in the package folder
while IFS='|' read -r rc text ini setup; do
  package case "$ini"
  (cd case && eval "$setup")
  run check case; expect_rc "$rc" "check: $text"
  expect_in "$text" "$OUT" "check case '$text'"
done <<'TABLE'
1|update.ini:3: VCHK is not of the form earliest<=source<=latest|P=x\r\n[Demo]\r\nVCHK=4.0 bis 4.3\r\nTDIR=C:\\A\r\n|
1|(the updater's message: "update.ini: 2x "<=" erwartet in VChk")|P=x\r\n[Demo]\r\nVCHK=4.0<=R\\x\\Ver\\\r\nTDIR=C:\\A\r\n|
1|update.ini:2: latest version "4.10" sorts before earliest "4.9"|P=x\r\nVCHK=4.9<=R\\x\\Ver\\<=4.10\r\n[Demo]\r\nTDIR=C:\\A\r\n|
1|update.ini:2: latest version "" sorts before earliest "4.0"|P=x\r\nVCHK=4.0<=R\\x\\Ver\\<\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|update.ini:2: a tab before "=" makes the key unknown|P=x\r\nV\t=1.0\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|update.ini:4: P is a main-section key; inside part [Demo] it is ignored|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\nP=late\r\n|
0|update.ini:2: TDIR belongs in a part section|P=x\r\nTDIR=C:\\A\r\n[Demo]\r\nTDIR=C:\\A\r\n|
1|update.ini: part [Demo] has no TDIR|P=x\r\n[Demo]\r\nN=Demo\r\n|
0|update.ini:3: unknown key "TARGET" is ignored|P=x\r\n[Demo]\r\nTarget=C:\\A\r\nTDIR=C:\\A\r\n|
0|update.ini:2: an indented header is no header|P=x\r\n [Demo]\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|the header does not end in "]"; the part is named "Demo]"|P=x\r\n[Demo] \r\nTDIR=C:\\A\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|update.ini:3: VRESULT without "=" writes nothing|P=x\r\n[Demo]\r\nVRESULT=R\\x\\Ver\\\r\nTDIR=C:\\A\r\n|
0|update.ini:4: TDIR given twice in [Demo]|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\nTDIR=C:\\B\r\n|
0|update.ini:4: ROLLBACK=" 1" is not 1: the part's changes are not undone|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\nROLLBACK= 1\r\n|
0|0 error(s), 0 warning(s)|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\nRollback=1\r\n|
0|update.ini:3: VRESULT writes "4.3", which the main VCHK range "4.0" to "4.3" still accepts|P=x\r\nVCHK="4.0"<=R\\x\\Ver\\<="4.3"\r\nVRESULT=r\\X\\Ver\\=4.3\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|0 error(s), 0 warning(s)|P=x\r\nVCHK="4.0"<=R\\x\\Ver\\<="4.3"\r\nVRESULT=R\\x\\Ver\\=4.3.1\r\n[Demo]\r\nTDIR=C:\\A\r\n|
1|update.ini: part [Demo] has ROLLBACK=1 and REBOOTOK=1|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\nROLLBACK=1\r\nREBOOTOK=1\r\n|
0|0 error(s), 0 warning(s)|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\nREBOOTOK=1\r\n[Kern]\r\nTDIR=C:\\B\r\nROLLBACK=1\r\n|
0|0 error(s), 0 warning(s)|P=x\r\nCheckCmd="C:\\A\\App.exe" /selftest\r\nCHECKWAIT=3600\r\nROLLBACK=1\r\n[Demo]\r\nTDIR=C:\\A\r\nROLLBACK=1\r\n|
1|update.ini:5: part [Demo] has REBOOTOK=1, but the package has a CHECKCMD|P=x\r\nCHECKCMD=a.exe\r\n[Demo]\r\nTDIR=C:\\A\r\nREBOOTOK=1\r\n|
1|update.ini:7: part [Kern] has REBOOTOK=1, but the main section has ROLLBACK=1|P=x\r\nROLLBACK=1\r\n[Demo]\r\nTDIR=C:\\A\r\n[Kern]\r\nTDIR=C:\\B\r\nREBOOTOK=1\r\n|
0|update.ini:4: CHECKCMD is a main-section key; inside part [Demo] it is ignored|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\nCHECKCMD=a.exe\r\nREBOOTOK=1\r\n|
0|update.ini:3: CHECKWAIT="0" is not a whole number from 1 to 3600: the updater gives the check 1 second(s)|P=x\r\nCHECKCMD=a.exe\r\nCHECKWAIT=0\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|update.ini: CHECKWAIT without CHECKCMD|P=x\r\nCHECKWAIT=30\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|update.ini: no P key|V=1\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|update.ini:3: the source of VCHK begins with """|P=x\r\n[Demo]\r\nVCHK=4.0<="R\\x\\Ver\\"<=4.3\r\nTDIR=C:\\A\r\n|
0|the latest version "=" keeps|P=x\r\n[Demo]\r\nVCHK=4.0<=R\\x\\Ver\\<=\r\nTDIR=C:\\A\r\n|
0|the earliest version " "4.0"" keeps|P=x\r\n[Demo]\r\nVCHK= "4.0"<=R\\x\\Ver\\<="4.3"\r\nTDIR=C:\\A\r\n|
1|update.ini: is UTF-8 text|P=Grüße\r\n[Demo]\r\nTDIR=C:\\A\r\n|
1|update.ini: starts with a UTF-8 byte order mark|\xef\xbb\xbfP=x\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|add\Other\c.txt: update.ini has no part [Other]|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\n|mkdir -p add/Other; echo c >add/Other/c.txt
0|todel.txt:2: "Other\old.dll" belongs to no part|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\n|printf 'Demo\\old.dll\r\nOther\\old.dll\r\n' >todel.txt
1|todel.txt:1: "Demo\..\..\boot.ini" would delete outside|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\n|printf 'Demo\\..\\..\\boot.ini\r\n' >todel.txt
0|Font.TTF: has no FONT key|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\n|echo f >Font.TTF
0|update.ini:2: FONT names "Gone.ttf", which is no .TTF file|P=x\r\nFONT=Gone.ttf,Gone\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|0 error(s), 0 warning(s)|P=x\r\nFONT=font.ttf,Font\r\n[Demo]\r\nTDIR=C:\\A\r\n|echo f >FONT.TTF
0|update.ini:2: FONT without "," names no font file|P=x\r\nFONT=Font\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|stray.txt: is neither in an add\, rep\ or pat\ tree nor a top-level font|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\n|echo s >stray.txt
1|update.ini is missing|P=x\r\n|rm update.ini
1|ā.txt: name not representable|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\n|echo x >add/Demo/ā.txt
1|update.ini:3: the value ends in " ; Programmordner", which is no remark|P=x\r\n[Demo]\r\nTDIR=C:\\A   ; Programmordner\r\n|
1|update.ini:2: the value ends in " ;Bereich"|P=x\r\nVCHK="4.0"<=R\\x\\Ver\\<="4.3" ;Bereich\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|update.ini:1: the value ends in "	; Name"|P=x	; Name\r\n[Demo]\r\nTDIR=C:\\A\r\n|
0|0 error(s), 0 warning(s)|P=x;y\r\n[Demo]\r\nTDIR=C:\\A\r\n|
1|add\Demo\sub\a.txt: is dated before 1980|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\n|touch -d "1975-05-05 12:00:00" add/Demo/sub/a.txt
1|rep\Demo\b.txt: the date 2050-... lies outside 1980 to 2043|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\n|touch -d "2050-01-01 12:00:00" rep/Demo/b.txt
1|add/Demo/NUL.txt: a name element is a Windows device name|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\n|echo x >add/Demo/NUL.txt
1|add/Demo/com1/x: a name element is a Windows device name|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\n|mkdir add/Demo/com1; echo x >add/Demo/com1/x
0|0 error(s), 0 warning(s)|P=x\r\n[Demo]\r\nTDIR=C:\\A\r\n|echo x >add/Demo/CONSOLE.txt; echo x >add/Demo/COM10
TABLE

# A built package: the same findings from its archive, and what only an archive can hold.
package built "$GOOD"; printf 'Demo\\old.dll\r\nNobody\\x.dll\r\n' >built/todel.txt
"$MKUPDATE" build -o built.vpa built >/dev/null || fail "build for check"
run check built.vpa; expect_rc 0 "check of a built package"
expect_in 'todel.txt:2: "Nobody\x.dll" belongs to no part' "$OUT" "check of a built package"

n=14; name='add\Demo\..\x.txt'   # hand-built: an entry that leaves its target folder, no control files
{ u32 $((12 + 20 + ${#name})); u32 1; u32 1048576; record "$name" $((32 + ${#name})) 3 11 $STAMP_A; segment "$ABC"; } >escape.vpa
run check escape.vpa; expect_rc 1 "check of a hand-built archive"
expect_in 'error: update.ini: cannot be read (the updater cannot load the package) (the updater'"'"'s message: "update.ini nicht im Archiv")' "$OUT" "missing update.ini in an archive"
: >empty.vpa
run check empty.vpa; expect_rc 1 "check of an unreadable file"
finish

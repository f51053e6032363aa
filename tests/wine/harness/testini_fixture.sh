# Shared by testini.sh and testini_wow64.sh: a folder of component files
# and manifests about it.
# make_testini_fixture DIR: writes DIR/files/*, DIR/mixed.ini (two failing
# files of another size or none at all and one of the right size whose MD5
# differs, among good ones), DIR/good.ini, DIR/nofiles.ini, DIR/zero.ini (a
# missing and an empty file, both with FILE_SIZE 0), and sets
# TESTINI_MIXED_EXPECTED and TESTINI_ZERO_EXPECTED to the robot's lines for
# mixed.ini and zero.ini.
make_testini_fixture() {
  local d=$1
  mkdir -p "$d/files"
  head -c 1000 /dev/zero > "$d/files/UNZIP.EXE"
  head -c 2345 /dev/zero | tr '\0' 'j' > "$d/files/jre-windows-i586.exe"
  head -c 4096 /dev/zero | tr '\0' 't' > "$d/files/tidewell.war"
  : > "$d/files/empty.zip"
  md5of() { md5sum < "$d/files/$1" | cut -d' ' -f1; }
  local unzip jre tw empty junk
  unzip=$(md5of UNZIP.EXE); jre=$(md5of jre-windows-i586.exe); tw=$(md5of tidewell.war); empty=$(md5of empty.zip)
  junk=0123456789abcdef0123456789abcdef  # the MD5 of another file of that size
  printf '%s\r\n' \
    '[GENERAL]' 'BINARY_BASE=http://127.0.0.1/' \
    '[UNZIP]' 'FILE_NAME=UNZIP.EXE' 'FILE_SIZE=1000' "FILE_MD5SUM=$unzip" \
    '[TW]' 'FILE_NAME = tidewell.war ' 'FILE_SIZE=4095' "FILE_MD5SUM=$tw" 'FILE_VERSION=4.2.1' \
    '[JRE]' 'FILE_NAME="jre-windows-i586.exe"' 'FILE_SIZE=2345' "FILE_MD5SUM=$jre" \
    '[TOMCAT]' 'FILE_NAME=apache-tomcat.zip' 'FILE_SIZE=77' \
    '[CATALINA_BASE]' 'FILE_NAME=empty.zip' 'FILE_SIZE=0' "FILE_MD5SUM=$empty" \
    '[JREx64]' 'FILE_NAME=jre-windows-i586.exe' 'FILE_SIZE=2345' "FILE_MD5SUM=$junk" > "$d/mixed.ini"
  printf '%s\r\n' \
    '[GENERAL]' 'BINARY_BASE=http://127.0.0.1/' \
    '[unzip]' 'file_name=UNZIP.EXE' 'file_size=1000' "file_md5sum=$unzip" \
    '[TW]' 'FILE_NAME=tidewell.war' 'FILE_SIZE=4096' "FILE_MD5SUM=${tw^^}" > "$d/good.ini"
  printf '%s\r\n' '[GENERAL]' 'BINARY_BASE=http://127.0.0.1/' '[DOWNLOADER]' 'FILE_VERSION=1.0.0.0' > "$d/nofiles.ini"
  printf '%s\r\n' \
    '[GENERAL]' 'BINARY_BASE=http://127.0.0.1/' \
    '[JRE]' 'FILE_NAME=not-there.exe' 'FILE_SIZE=0' \
    '[CATALINA_BASE]' 'FILE_NAME=empty.zip' 'FILE_SIZE=0' "FILE_MD5SUM=$empty" > "$d/zero.ini"
  TESTINI_MIXED_EXPECTED='Error|Error checking file: tidewell.war\n\nThe size is 4096 bytes; the expected size is 4095 bytes.|none
Error|Error checking file: apache-tomcat.zip\n\nThe file is missing or cannot be read.|none
Error|Error checking file: jre-windows-i586.exe\n\nThe computed MD5Sum is '"${jre^^}"'\nThe expected MD5Sum is '"$junk"'|none
Error|One or more files failed testing. Check size, and MD5SUM|warning
exit|0'
  TESTINI_ZERO_EXPECTED='Error|Error checking file: not-there.exe\n\nThe file is missing or cannot be read.|none
Error|One or more files failed testing. Check size, and MD5SUM|warning
exit|0'
}

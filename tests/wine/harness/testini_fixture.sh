# Shared by testini.sh and testini_wow64.sh: a folder of component files
# and manifests about it.
# make_testini_fixture DIR: writes DIR/files/*, DIR/mixed.ini (two failing
# files among good ones), DIR/good.ini, DIR/nofiles.ini, DIR/zero.ini (a
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
  printf '%s\r\n' \
    '[GENERAL]' 'BINARY_BASE=http://127.0.0.1/' \
    '[UNZIP]' 'FILE_NAME=UNZIP.EXE' 'FILE_SIZE=1000' \
    '[TW]' 'FILE_NAME = tidewell.war ' 'FILE_SIZE=4095' 'FILE_VERSION=4.2.1' \
    '[JRE]' 'FILE_NAME="jre-windows-i586.exe"' 'FILE_SIZE=2345' \
    '[TOMCAT]' 'FILE_NAME=apache-tomcat.zip' 'FILE_SIZE=77' \
    '[CATALINA_BASE]' 'FILE_NAME=empty.zip' 'FILE_SIZE=0' > "$d/mixed.ini"
  printf '%s\r\n' \
    '[GENERAL]' 'BINARY_BASE=http://127.0.0.1/' \
    '[unzip]' 'file_name=UNZIP.EXE' 'file_size=1000' \
    '[TW]' 'FILE_NAME=tidewell.war' 'FILE_SIZE=4096' > "$d/good.ini"
  printf '%s\r\n' '[GENERAL]' 'BINARY_BASE=http://127.0.0.1/' '[DOWNLOADER]' 'FILE_VERSION=1.0.0.0' > "$d/nofiles.ini"
  printf '%s\r\n' \
    '[GENERAL]' 'BINARY_BASE=http://127.0.0.1/' \
    '[JRE]' 'FILE_NAME=not-there.exe' 'FILE_SIZE=0' \
    '[CATALINA_BASE]' 'FILE_NAME=empty.zip' 'FILE_SIZE=0' > "$d/zero.ini"
  TESTINI_MIXED_EXPECTED='Error|Error checking file: tidewell.war|none
Error|Error checking file: apache-tomcat.zip|none
Error|One or more files failed testing. Check size, and MD5SUM|warning
exit|0'
  TESTINI_ZERO_EXPECTED='Error|Error checking file: not-there.exe|none
Error|One or more files failed testing. Check size, and MD5SUM|warning
exit|0'
}

// A Windows directory that uses every feature of the hive writer.
#ifndef TESTS_IC_REG_SAMPLE_H
#define TESTS_IC_REG_SAMPLE_H

static const char kSampleWindows[] = R"(
windows /Windows
  hive SYSTEM
    key "ControlSet001\\Services\\Beep" class=LegacyDriver timestamp=0x01D2000000000001
      value ImagePath expand_sz "system32\\drivers\\beep.sys"
      value Start dword 3
      value Type dword 1
      value Big binary fill=20000
      value Exact binary fill=16344
      value DependOnService multi_sz Tcpip Afd
      value Quota qword 0x1122334455667788
      value @ sz "default value"
      value Empty binary
      value Four binary 01020304
    key "ControlSet001\\Services\\Names" list=li
      key "Név" 
      key "Привет" class="Класс"
      key "日本" wide=yes
      key alpha
      key Beta security=none
      value "Ünï" sz "wide \xc3\xa4"
      value "Значение" sz "текст"
      value "narrow" sz n wide=yes
    key "ControlSet001\\Enum" list=lf
      key Root
      key PCI
      key USB
      key ACPI
    key "ControlSet001\\Control\\Class" list=ri chunk=3 sublist=lf
      key "{4d36e965}"
      key "{4d36e966}"
      key "{4d36e967}"
      key "{4d36e968}"
      key "{4d36e969}"
      key "{4d36e96a}"
      key "{4d36e96b}"
    key Hashed list=ri chunk=2 sublist=lh
      key a
      key b
      key c
      key d
      key e
    key Indexed list=ri chunk=2 sublist=li
      key x
      key y
      key z
    key Link symlink=yes
      value SymbolicLinkValue link "\\Registry\\Machine\\System\\Select"
  hive SAM version=1.3
    key "SAM\\Domains\\Account"
      value F binary fill=20000
      value V binary fill=300
  hive SOFTWARE
    key "Microsoft\\Windows\\CurrentVersion\\Run"
      value Agent sz "C:\\agent.exe"
  profile S-1-5-21-1000 path="%systemdrive%\\Users\\ivan"
    key "Software\\Ivan"
      value Hello sz world
  profile S-1-5-21-1001 path="%SystemRoot%\\Profiles\\olga"
  profile S-1-5-21-1002 path="D:\\Elsewhere\\petr"
)";

#endif

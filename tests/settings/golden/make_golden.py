#!/usr/bin/python3
# Writes the golden files of the window's settings tests. Each "after" file is derived from its
# "before" file by plain line edits, independently of the code under test. Run it from this
# directory.

def cp932(text):
    return text.encode("cp932")

def join(lines):
    return b"\r\n".join(lines)  # no final line break

def write(name, data):
    with open(name, "wb") as f:
        f.write(data)

# A hand-kept file: CR LF, comments, a key before the first section, a profile whose name and
# values hold 表 (95 5C) and ソ (83 5C), section CURRENT with all its keys in odd spellings, an
# unknown section with a junk line and bytes that are not CP932, and no final line break.
full = [
    cp932("; Lodrin settings, kept by hand"),
    cp932("STRAY=before any section"),
    b"",
    cp932("[表示ソフト]"),
    cp932("HOST=www.example.com"),
    cp932("DIR=/public_html/ソフト"),
    cp932("LOCDIR=/home/web/表"),
    b"",
    cp932("[current]"),
    cp932("FORMTOP=120"),
    cp932("FORMLEFT=0x10"),
    cp932("PROFILE=表示ソフト"),
    cp932("host = ftp.example.jp"),
    cp932("UID=user"),
    cp932("SAVEPWD=1"),
    cp932("PWD=secret"),
    cp932("; passive mode off for this host"),
    cp932("PASSIVE=0"),
    cp932("DIR=/public_html/ソフト"),
    cp932("LOCDIR=/home/web/表"),
    cp932("TIMEOUT=abc"),
    cp932("PORT=2121"),
    cp932("PROXYSERVER="),
    cp932("PROXYPORT=0"),
    cp932("PROXYUSERNAME="),
    cp932("PROXYPASSWORD="),
    cp932("PROXYTYPE=9"),
    cp932("CLOSE_AFTER_TRANSFER=yes"),
    cp932("START_ON_SET=0"),
    cp932("SEARCH_PROFILE=1"),
    b"",
    cp932("[Unknown]"),
    cp932("FOO=bar"),
    cp932("this line is junk"),
    b"RAW=\x81\x20\x81",
]
write("full_before.ini", join(full))

# The test moves the window to (200, 100), sets the host and turns passive mode on. Values that
# were read as something else (0x10, 9, yes) are written as what the window holds.
after = list(full)
def replace(old, new):
    after[after.index(cp932(old))] = cp932(new)
replace("FORMTOP=120", "FORMTOP=100")
replace("FORMLEFT=0x10", "FORMLEFT=200")
replace("host = ftp.example.jp", "host = ftp.example.com")
replace("PASSIVE=0", "PASSIVE=1")
replace("PROXYTYPE=9", "PROXYTYPE=-1")
replace("CLOSE_AFTER_TRANSFER=yes", "CLOSE_AFTER_TRANSFER=0")
write("full_after.ini", join(after))

# Section CURRENT last, with two of its keys, and no final line break: the other keys follow
# them in order, and the file still ends without a line break.
partial = [
    cp932("[ソフト]"),
    cp932("HOST=soft.example.jp"),
    b"",
    cp932("[CURRENT]"),
    cp932("TIMEOUT=abc"),
    cp932("PROFILE=ソフト"),
]
write("partial_before.ini", join(partial))
write("partial_after.ini", join(partial + [cp932(line) for line in [
    "FORMTOP=0", "FORMLEFT=0", "HOST=", "UID=", "SAVEPWD=1", "PWD=", "PASSIVE=0", "DIR=",
    "LOCDIR=", "PORT=21", "PROXYSERVER=", "PROXYPORT=0", "PROXYUSERNAME=", "PROXYPASSWORD=",
    "PROXYTYPE=-1", "CLOSE_AFTER_TRANSFER=0", "START_ON_SET=0", "SEARCH_PROFILE=0"]]))

# An extension list with a Japanese entry, CR LF and no final line break: saved unchanged.
write("TextExt.txt", join([cp932(e) for e in [".htm", ".表", ".txt"]]))

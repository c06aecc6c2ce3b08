#!/usr/bin/python3
# Writes the golden INI files. The expected files are derived here by plain text edits of the
# input, independently of the INI code under test. Run it from this directory.

CRLF = "\r\n"

def cp932(text):
    return text.encode("cp932")

# CP932 with CR LF, comments, a key before the first section, section names whose second byte
# is 0x5C (表 95 5C, ソ 83 5C) or an ASCII letter (ヂ 83 61, ア 83 41), an unknown section with
# a junk line and a line that is not valid CP932, and no final line break.
lines = [
    cp932("; Lodrin settings"),
    cp932("STRAY=before any section"),
    b"",
    cp932("[CURRENT]"),
    cp932("FORMTOP=120"),
    cp932("PROFILE=表示ソフト"),
    cp932("HOST = ftp.example.jp"),
    cp932("; a comment inside"),
    cp932("TIMEOUT=abc"),
    b"",
    cp932("[表示ソフト]"),
    cp932("HOST=www.example.com"),
    cp932("DIR=/public_html/ソフト"),
    b"",
    cp932("[Unknown]"),
    cp932("FOO=bar"),
    cp932("this line is junk"),
    b"RAW=\x81\x20\x81",
    cp932("[ヂア]"),
    cp932("UID=user"),
    cp932("LOCDIR=C:\\Web\\表"),
    cp932("PWD=secret"),
]

def join(ls):
    return b"\r\n".join(ls)  # no final line break

def write(name, data):
    with open(name, "wb") as f:
        f.write(data)

write("settings.ini", join(lines))

def edited(edit):
    ls = list(lines)
    edit(ls)
    return join(ls)

def replace_line(old, new):
    def edit(ls):
        ls[ls.index(cp932(old))] = cp932(new)
    return edit

def insert_after(anchor, new):
    def edit(ls):
        ls.insert(ls.index(cp932(anchor)) + 1, cp932(new))
    return edit

write("replace.ini", edited(replace_line("DIR=/public_html/ソフト", "DIR=/htdocs/表")))
write("replace_case.ini", edited(replace_line("FORMTOP=120", "FORMTOP=64")))
write("replace_spaced.ini", edited(replace_line("HOST = ftp.example.jp", "HOST = ftp.example.com")))
write("new_key.ini", edited(insert_after("TIMEOUT=abc", "PORT=21")))
write("new_key_last.ini", edited(lambda ls: ls.append(cp932("DIR=/x"))))
write("new_section.ini", join(lines + [cp932("[新規]"), cp932("HOST=h")]))

def erase_unknown(ls):
    start = ls.index(cp932("[Unknown]"))
    end = ls.index(cp932("[ヂア]"))
    del ls[start:end]
write("erase.ini", edited(erase_unknown))

# The UTF-8 fallback: every line converted, except the one that is not valid CP932.
def to_utf8(ls):
    out = []
    for l in ls:
        try:
            out.append(l.decode("cp932").encode("utf-8"))
        except UnicodeDecodeError:
            out.append(l)
    return out
utf8 = to_utf8(lines)
utf8[utf8.index(b"HOST = ftp.example.jp")] = "HOST = café.example".encode("utf-8")
write("utf8_fallback.ini", b"\xef\xbb\xbf" + join(utf8))

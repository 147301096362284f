#!/usr/bin/env python3
"""Vexlo's translations: the template, its check, and what the builds make of the catalogues.

    po/catalogues.py update          extracts every text into po/vexlo.pot and merges it into
                                     each po/LANG.po (new texts arrive empty, for translation)
    po/catalogues.py check           fails when a shown text is missing from the template, or a
                                     catalogue lacks a text, keeps a fuzzy one, or its {names}
                                     and line breaks differ from the English; when a text the
                                     Windows program shows has a letter its language's Windows
                                     code page lacks; and when a line of a text of several
                                     lines (--help) is wider than 79 columns
    po/catalogues.py desktops [ROOT] fails when a way to the desktops' shortcut settings
                                     ("System Settings → Keyboard → ...") is not, step by
                                     step and in every language, the labels the desktops
                                     installed under ROOT (default /) show: KDE Plasma 6 and
                                     GNOME 48, as Debian 13 has them
    po/catalogues.py embed OUT.cpp   the catalogues as a C++ table for both programs
    po/catalogues.py nsis OUT.nsh    the installer's texts as NSIS LangStrings

The texts come from the program's sources (Tr(texts, "...") and N_("...")), the desktop
entries, the AppStream metainfo and packaging/win32/installer_texts.ini. The languages are
listed in po/LINGUAS.
"""
import configparser
import os
import re
import subprocess
import sys
import tempfile
import unicodedata

PO = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(PO)
TEMPLATE = os.path.join(PO, "vexlo.pot")
INSTALLER_TEXTS = os.path.join(TOP, "packaging/win32/installer_texts.ini")
# NSIS's name for each catalogue's language.
NSIS_LANGUAGES = {"de": "German", "fr": "French", "es": "Spanish", "it": "Italian",
                  "pt_BR": "PortugueseBR", "ru": "Russian"}
# The ANSI code page of a Windows set up for each language: the Windows program's texts must
# fit in it.
WINDOWS_CODE_PAGES = {"de": "cp1252", "fr": "cp1252", "es": "cp1252", "it": "cp1252",
                      "pt_BR": "cp1252", "ru": "cp1251"}
# Texts of the Linux program only; every other source's texts are shown on Windows too.
LINUX_ONLY = ("src/platform/linux/", "packaging/linux/")
# The widest line of the --help text, in any language.
HELP_COLUMNS = 79


def languages():
    with open(os.path.join(PO, "LINGUAS"), encoding="utf-8") as f:
        return [w for line in f for w in line.split("#")[0].split()]


def sources():
    out = []
    for folder, _, files in os.walk(os.path.join(TOP, "src")):
        if "/tests" in folder[len(TOP):] or "/fake" in folder[len(TOP):]:
            continue
        out += [os.path.join(folder, f) for f in files if f.endswith((".cpp", ".h"))]
    return sorted(os.path.relpath(p, TOP) for p in out)


def other_sources():
    return ["packaging/linux/io.github.vexlo.vexlo.desktop",
            "packaging/linux/vexlo-autostart.desktop",
            "packaging/linux/io.github.vexlo.vexlo.metainfo.xml.in"]


def unquote(s):
    out, i = [], 0
    while i < len(s):
        c = s[i]
        if c == "\\" and i + 1 < len(s):
            n = s[i + 1]
            out.append({"n": "\n", "t": "\t", '"': '"', "\\": "\\", "r": "\r"}.get(n, n))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def quote(s):
    return s.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n").replace("\t", "\\t")


def read_po(path):
    """The entries of a .po file: dicts with msgid, msgstr, flags, refs; the header left out."""
    entries, entry, field = [], None, None
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if line.startswith("#~"):
                continue
            if not line.strip():
                if entry and "msgid" in entry:
                    entries.append(entry)
                entry, field = None, None
                continue
            if entry is None:
                entry = {"flags": set(), "refs": [], "comments": []}
            if line.startswith("#,"):
                entry["flags"] |= {x.strip() for x in line[2:].split(",")}
            elif line.startswith("#:"):
                entry["refs"] += line[2:].split()
            elif line.startswith("#"):
                entry["comments"].append(line)
            else:
                m = re.match(r'^(msgctxt|msgid|msgid_plural|msgstr(?:\[\d+\])?)\s+"(.*)"$', line)
                if m:
                    field = m.group(1)
                    entry[field] = unquote(m.group(2))
                elif line.startswith('"') and field:
                    entry[field] += unquote(line[1:-1])
    if entry and "msgid" in entry:
        entries.append(entry)
    return [e for e in entries if e["msgid"] != ""]


def installer_texts():
    ini = configparser.ConfigParser(interpolation=None)
    ini.optionxform = str
    ini.read(INSTALLER_TEXTS, encoding="utf-8")
    return list(ini["texts"].items())


def extract(out):
    """Writes the template to OUT."""
    with tempfile.TemporaryDirectory() as tmp:
        parts = []
        code = os.path.join(tmp, "code.pot")
        subprocess.run(["xgettext", "--language=C++", "--from-code=UTF-8", "--keyword=",
                        "--keyword=Tr:2", "--keyword=N_", "--add-comments=TRANSLATORS:",
                        "--sort-by-file", "--package-name=Vexlo", "-o", code] + sources(),
                       cwd=TOP, check=True)
        parts.append(code)
        packaging = os.path.join(tmp, "packaging.pot")
        subprocess.run(["xgettext", "--from-code=UTF-8", "-o", packaging] + other_sources(),
                       cwd=TOP, check=True)
        parts.append(packaging)
        nsis = os.path.join(tmp, "installer.pot")
        with open(nsis, "w", encoding="utf-8") as f:
            f.write('msgid ""\nmsgstr ""\n"Content-Type: text/plain; charset=UTF-8\\n"\n\n')
            for name, text in installer_texts():
                f.write(f'#. The Windows installer ({name})\n'
                        f'#: packaging/win32/installer_texts.ini\nmsgid "{quote(text)}"\n'
                        f'msgstr ""\n\n')
        parts.append(nsis)
        subprocess.run(["msgcat", "--use-first", "-o", out] + parts, check=True)
    # The date of the run would change the file at every update.
    with open(out, encoding="utf-8") as f:
        text = f.read()
    text = re.sub(r'"POT-Creation-Date: [^"]*"\n', "", text)
    with open(out, "w", encoding="utf-8") as f:
        f.write(text)


def update():
    extract(TEMPLATE)
    for lang in languages():
        po = os.path.join(PO, lang + ".po")
        if not os.path.exists(po):
            subprocess.run(["msginit", "--no-translator", "-l", lang, "-i", TEMPLATE, "-o", po],
                           check=True)
        subprocess.run(["msgmerge", "--quiet", "--update", "--backup=none", "--no-fuzzy-matching",
                        po, TEMPLATE], check=True)
    print(f"po/vexlo.pot: {len(read_po(TEMPLATE))} texts; catalogues: {' '.join(languages())}")


def placeholders(text):
    return sorted(re.findall(r"\{[a-z_]+\}", text))


def shown_on_windows(entry):
    return any(not ref.startswith(LINUX_ONLY) for ref in entry["refs"])


def text_problems(lang, msgid, text, windows):
    """What is wrong with a text of LANG (None: the English) beyond its catalogue entry."""
    problems = []
    if msgid.count("\n") > 1:
        for line in text.split("\n"):
            if len(line) > HELP_COLUMNS:
                problems.append(f"a line of {len(line)} columns, more than {HELP_COLUMNS}: "
                                f"{line!r}")
    if lang and windows:
        code_page = WINDOWS_CODE_PAGES.get(lang)
        if code_page is None:
            problems.append(f"no Windows code page is known for {lang} (WINDOWS_CODE_PAGES)")
        else:
            lacking = sorted({ch for ch in text if ch not in "\n" and
                              not _encodes(ch, code_page)})
            if lacking:
                problems.append(f"{''.join(lacking)!r} not in {code_page}, the Windows code page "
                                f"of {lang}")
    return problems


def _encodes(ch, code_page):
    try:
        ch.encode(code_page)
        return True
    except UnicodeEncodeError:
        return False


def check():
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        fresh = os.path.join(tmp, "vexlo.pot")
        extract(fresh)
        now = {e["msgid"]: e for e in read_po(fresh)}
    kept = {e["msgid"] for e in read_po(TEMPLATE)}
    for msgid, e in now.items():
        if msgid not in kept:
            problems.append(f"po/vexlo.pot lacks the text of {' '.join(e['refs'][:2])}: "
                            f"{msgid[:60]!r} (run po/catalogues.py update)")
    for msgid, e in now.items():
        problems += [f"the English {msgid[:50]!r}: {p}"
                     for p in text_problems(None, msgid, msgid, False)]
    for msgid in kept - now.keys():
        problems.append(f"po/vexlo.pot holds a text no source has: {msgid[:60]!r} "
                        "(run po/catalogues.py update)")
    for lang in languages():
        po = os.path.join(PO, lang + ".po")
        if not os.path.exists(po):
            problems.append(f"po/{lang}.po is missing (run po/catalogues.py update)")
            continue
        result = subprocess.run(["msgfmt", "--check", "-o", os.devnull, po],
                                capture_output=True, text=True)
        if result.returncode != 0:
            problems.append(f"po/{lang}.po: msgfmt --check: {result.stderr.strip()}")
        have = {e["msgid"]: e for e in read_po(po)}
        for msgid in now:
            e = have.get(msgid)
            where = f"po/{lang}.po: {msgid[:50]!r}"
            if e is None:
                problems.append(f"{where}: missing")
            elif not e.get("msgstr"):
                problems.append(f"{where}: not translated")
            elif "fuzzy" in e["flags"]:
                problems.append(f"{where}: marked fuzzy")
            elif placeholders(msgid) != placeholders(e["msgstr"]):
                problems.append(f"{where}: places {placeholders(e['msgstr'])}, "
                                f"the English has {placeholders(msgid)}")
            elif msgid.count("\n") != e["msgstr"].count("\n") and msgid.count("\n") > 1:
                # Texts of several lines (--help) keep their lines; a line break or two in a
                # message may move.
                problems.append(f"{where}: {e['msgstr'].count(chr(10))} line breaks, "
                                f"the English has {msgid.count(chr(10))}")
            else:
                problems += [f"{where}: {p}" for p in
                             text_problems(lang, msgid, e["msgstr"], shown_on_windows(now[msgid]))]
    for p in problems:
        print(p)
    total = len(now)
    print(f"catalogues: {total} texts, {len(languages())} languages, {len(problems)} problems")
    return 1 if problems else 0


# The ways to the desktops' shortcut settings that Vexlo names, and where each step's label
# comes from: a gettext domain and its English, or a desktop file's Name (KDE writes the
# translations into its desktop files); None for Vexlo's own name.
GNOME_SETTINGS = "gnome-control-center-2.0"
DESKTOP_PATHS = {
    "System Settings → Keyboard → Shortcuts → Vexlo": [
        ("mo", "systemsettings", "System Settings"),
        ("desktop", "usr/share/systemsettings/categories/settings-hardware-keyboard.desktop"),
        ("desktop", "usr/share/applications/kcm_keys.desktop"),
        None],
    "Settings → Apps → Vexlo → Global Shortcuts": [
        ("mo", GNOME_SETTINGS, "Settings"), ("mo", GNOME_SETTINGS, "Apps"), None,
        ("mo", GNOME_SETTINGS, "Global Shortcuts")],
    "Settings → Keyboard → View and Customize Shortcuts → Custom Shortcuts": [
        ("mo", GNOME_SETTINGS, "Settings"), ("mo", GNOME_SETTINGS, "Keyboard"),
        ("mo", GNOME_SETTINGS, "_View and Customize Shortcuts"),
        ("mo", GNOME_SETTINGS, "Custom Shortcuts")],
}
STEP = " → "


def desktop_label(root, source, lang, cache):
    """The label a step's source gives in LANG (None: the English); None when it has none."""
    if source[0] == "desktop":
        key = "Name" if lang is None else f"Name[{lang}]"
        path = os.path.join(root, source[1])
        if not os.path.exists(path):
            return None
        with open(path, encoding="utf-8") as f:
            for line in f:
                if line.startswith("[") and not line.startswith("[Desktop Entry]"):
                    break
                name, _, value = line.rstrip("\n").partition("=")
                if name == key:
                    return value
        return None
    _, domain, english = source
    if lang is None:
        return english.replace("_", "")
    if (domain, lang) not in cache:
        mo = os.path.join(root, "usr/share/locale", lang, "LC_MESSAGES", domain + ".mo")
        texts = {}
        if os.path.exists(mo):
            with tempfile.TemporaryDirectory() as tmp:
                po = os.path.join(tmp, "texts.po")
                subprocess.run(["msgunfmt", "-o", po, mo], check=True)
                texts = {e["msgid"]: e.get("msgstr", "") for e in read_po(po)
                         if "msgctxt" not in e}
        cache[(domain, lang)] = texts
    label = cache[(domain, lang)].get(english)
    return label.replace("_", "") if label else None


def desktops(root):
    problems, cache = [], {}
    catalogues = {lang: {e["msgid"]: e.get("msgstr", "")
                         for e in read_po(os.path.join(PO, lang + ".po"))}
                  for lang in languages()}
    template = {e["msgid"] for e in read_po(TEMPLATE)}
    for english, sources in DESKTOP_PATHS.items():
        if english not in template:
            problems.append(f"no shown text is {english!r}")
            continue
        for lang in [None] + languages():
            text = english if lang is None else catalogues[lang].get(english, "")
            steps = text.split(STEP)
            where = f"{lang or 'English'}: {text!r}"
            if len(steps) != len(sources):
                problems.append(f"{where}: {len(steps)} steps, not {len(sources)}")
                continue
            for step, source in zip(steps, sources):
                if source is None:
                    if step != "Vexlo":
                        problems.append(f"{where}: {step!r} where Vexlo's name belongs")
                    continue
                label = desktop_label(root, source, lang, cache)
                if label is None:
                    problems.append(f"{where}: {' '.join(source[1:])} has no label for "
                                    f"{step!r} under {root}")
                # GNOME's Spanish writes "ó" as "o" and a combining accent: the same to read.
                elif unicodedata.normalize("NFC", label) != step:
                    problems.append(f"{where}: {step!r}, the desktop says {label!r} "
                                    f"({' '.join(source[1:])})")
    for p in problems:
        print(p)
    print(f"desktops' labels: {len(DESKTOP_PATHS)} ways, {len(languages()) + 1} languages, "
          f"{len(problems)} problems")
    return 1 if problems else 0


def cxx_literal(text):
    out = []
    for b in text.encode("utf-8"):
        c = chr(b)
        if c == "\\" or c == '"':
            out.append("\\" + c)
        elif c == "\n":
            out.append("\\n")
        elif 32 <= b < 127:
            out.append(c)
        else:
            out.append(f"\\{b:03o}")
    return '"' + "".join(out) + '"'


def embed(out):
    lines = ["// Made by po/catalogues.py from po/*.po; not to be edited.", "#include <cstddef>",
             "", "namespace vexlo {", "struct CatalogueText { const char* english; "
             "const char* translated; };", "struct CatalogueTable { const char* language; "
             "const CatalogueText* texts; std::size_t count; };", "namespace {"]
    tables = []
    for i, lang in enumerate(languages()):
        entries = [e for e in read_po(os.path.join(PO, lang + ".po"))
                   if e.get("msgstr") and "fuzzy" not in e["flags"]]
        lines.append(f"const CatalogueText kTexts{i}[] = {{")
        lines += [f"    {{{cxx_literal(e['msgid'])}, {cxx_literal(e['msgstr'])}}}," for e in entries]
        if not entries:
            lines.append('    {"", ""},')
        lines.append("};")
        tables.append(f'    {{"{lang}", kTexts{i}, {len(entries)}}},')
    lines += ["}  // namespace", "extern const CatalogueTable kCatalogues[];",
              "extern const std::size_t kCatalogueCount;",
              "const CatalogueTable kCatalogues[] = {"] + (tables or ['    {"", nullptr, 0},'])
    lines += ["};", f"const std::size_t kCatalogueCount = {len(tables)};", "}  // namespace vexlo"]
    write_if_changed(out, "\n".join(lines) + "\n")


def nsis(out):
    texts = installer_texts()
    lines = ["; Made by po/catalogues.py from po/*.po; not to be edited."]
    lines += [f'LangString {name} ${{LANG_ENGLISH}} "{nsis_quote(text)}"' for name, text in texts]
    for lang in languages():
        have = {e["msgid"]: e["msgstr"] for e in read_po(os.path.join(PO, lang + ".po"))
                if e.get("msgstr") and "fuzzy" not in e["flags"]}
        lines.append(f'!insertmacro MUI_LANGUAGE "{NSIS_LANGUAGES[lang]}"')
        lines += [f'LangString {name} ${{LANG_{NSIS_LANGUAGES[lang].upper()}}} '
                  f'"{nsis_quote(have.get(text, text))}"' for name, text in texts]
    write_if_changed(out, "\ufeff" + "\n".join(lines) + "\n")


def nsis_quote(text):
    return text.replace("$", "$$").replace('"', '$\\"')


def write_if_changed(path, text):
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    if len(argv) >= 2 and argv[1] == "update":
        update()
        return 0
    if len(argv) >= 2 and argv[1] == "check":
        return check()
    if len(argv) in (2, 3) and argv[1] == "desktops":
        return desktops(argv[2] if len(argv) == 3 else "/")
    if len(argv) == 3 and argv[1] == "embed":
        embed(argv[2])
        return 0
    if len(argv) == 3 and argv[1] == "nsis":
        nsis(argv[2])
        return 0
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))

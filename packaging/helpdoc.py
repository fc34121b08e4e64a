#!/usr/bin/python3
"""Writes a program's manual page, and for velloran-cli its bash completion, from the program's
own --help output, so that neither can say something the program does not.

The help text is read as: usage lines ("usage: ..." and the indented lines that continue them),
then description paragraphs, then sections, each a line ending in ":" followed by its lines.
A program with verbs ("verbs:" section) gets each verb's own --help as a subsection."""

import argparse
import gzip
import os
import re
import subprocess
import sys


def run(program, *args):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
    result = subprocess.run([program, *args], capture_output=True, text=True, env=env, timeout=60)
    if result.returncode != 0:
        sys.exit(f"{program} {' '.join(args)} exited {result.returncode}: {result.stderr}")
    return result.stdout


def roff(text):
    """Escapes a line of text for roff: backslashes, hyphens, and leading dots or quotes."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def parse_help(text):
    """Splits a help text into usage lines, description paragraphs and (heading, lines) pairs."""
    lines = text.rstrip("\n").split("\n")
    usage = []
    index = 0
    while index < len(lines) and (lines[index].startswith("usage:") or
                                  (usage and lines[index].startswith(" "))):
        usage.append(lines[index][len("usage:"):].strip() if lines[index].startswith("usage:")
                     else lines[index].strip())
        index += 1
    description = []
    sections = []
    paragraph = []
    for line in lines[index:] + [""]:
        if not line.strip():
            if paragraph:
                if paragraph[0].endswith(":") and not paragraph[0].startswith(" "):
                    sections.append((paragraph[0][:-1], paragraph[1:]))
                elif sections:
                    sections[-1][1].extend([""] + paragraph)
                else:
                    description.append(" ".join(part.strip() for part in paragraph))
            paragraph = []
        else:
            paragraph.append(line)
    return usage, description, sections


def preformatted(lines):
    out = [".PP", ".nf"]
    out += [roff(line) if line else "" for line in lines]
    out.append(".fi")
    return out


def manual_page(name, version, help_text, verbs, see_also, section="1"):
    usage, description, sections = parse_help(help_text)
    if not description:
        sys.exit(f"{name} --help has no description paragraph")
    summary = description[0].split(". ")[0].rstrip(".")
    summary = summary[0].lower() + summary[1:]
    manual = "System Administration" if section == "8" else "User Commands"
    out = [f'.TH "{name.upper()}" "{section}" "" "Velloran {version}" "{manual}"',
           ".SH NAME", f"{roff(name)} \\- {roff(summary)}", ".SH SYNOPSIS", ".nf"]
    out += [roff(line) for line in usage]
    out += [".fi", ".SH DESCRIPTION"]
    for paragraph in description:
        out += [".PP", roff(paragraph)]
    for heading, body in sections:
        out.append(f'.SH "{roff(heading.upper())}"')
        if heading == "verbs":
            for verb, summary_line in verbs:
                out += [".TP", f"\\fB{roff(verb)}\\fR", roff(summary_line)]
        else:
            out += preformatted(body)
    if verbs:
        out.append('.SH "VERBS IN DETAIL"')
        for verb, _ in verbs:
            out.append(f'.SS "{roff(name)} {roff(verb)}"')
            out += preformatted(run_verb_help(verb).rstrip("\n").split("\n"))
    if see_also:
        out += [".SH \"SEE ALSO\"", ", ".join(f"\\fB{roff(page.split('(')[0])}\\fR(1)"
                                              for page in see_also)]
    return "\n".join(out) + "\n"


def listed_verbs(help_text):
    _, _, sections = parse_help(help_text)
    for heading, body in sections:
        if heading == "verbs":
            return [tuple(line.strip().split(None, 1)) for line in body if line.strip()]
    return []


PROGRAM = None
VERB_HELP = {}


def run_verb_help(verb):
    if verb not in VERB_HELP:
        VERB_HELP[verb] = run(PROGRAM, verb, "--help")
    return VERB_HELP[verb]


def option_values(help_text):
    """Maps each option named in a help text to the word that names its value, "" for flags."""
    options = {}
    for match in re.finditer(r"(?<![\w-])(--[a-z][a-z0-9-]*)(?:[ =]([A-Z][A-Z0-9|]*|[A-Z](?:\|[A-Z])+))?",
                             help_text):
        option, value = match.group(1), match.group(2) or ""
        if option in ("--help",):
            continue
        if value or option not in options:
            options[option] = value
    return options


def completion(name, verbs):
    function = "_" + re.sub(r"\W", "_", name)
    lines = [f"# bash completion for {name}: its verbs, and the options each verb's --help names.",
             f"# Generated from `{name} --help`; do not edit.",
             f"{function}() {{",
             "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}",
             "  if [[ $COMP_CWORD -eq 1 ]]; then",
             f"    COMPREPLY=($(compgen -W \"{' '.join(v for v, _ in verbs)} --help --version\" "
             "-- \"$cur\"))",
             "    return",
             "  fi",
             "  local options=",
             "  case ${COMP_WORDS[1]} in"]
    file_options, folder_options, choices = set(), set(), {}
    for verb, _ in verbs:
        values = option_values(run_verb_help(verb))
        lines.append(f"    {verb}) options=\"{' '.join(sorted(values) + ['--help'])}\" ;;")
        for option, value in values.items():
            if value in ("FILE", "CAFILE", "OUT", "IN"):
                file_options.add(option)
            elif value == "DIR":
                folder_options.add(option)
            elif "|" in value:
                choices[option] = value.replace("|", " ")
    lines += ["    *) return ;;", "  esac", "  case $prev in"]
    if file_options:
        lines += [f"    {'|'.join(sorted(file_options))})",
                  "      compopt -o filenames; COMPREPLY=($(compgen -f -- \"$cur\")); return ;;"]
    if folder_options:
        lines += [f"    {'|'.join(sorted(folder_options))})",
                  "      compopt -o filenames; COMPREPLY=($(compgen -d -- \"$cur\")); return ;;"]
    for option, words in sorted(choices.items()):
        lines += [f"    {option}) COMPREPLY=($(compgen -W \"{words}\" -- \"$cur\")); return ;;"]
    lines += ["  esac",
              "  if [[ $cur == -* ]]; then",
              "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))",
              "  else",
              "    compopt -o filenames; COMPREPLY=($(compgen -f -- \"$cur\"))",
              "  fi",
              "}",
              f"complete -F {function} {name}"]
    return "\n".join(lines) + "\n"


def main():
    global PROGRAM
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True, help="the executable to ask for --help")
    parser.add_argument("--name", required=True, help="the name it is installed under")
    parser.add_argument("--version", required=True)
    parser.add_argument("--see-also", action="append", default=[])
    parser.add_argument("--man", required=True, help="the manual page to write (.1; .1.gz beside)")
    parser.add_argument("--section", default="1", choices=["1", "8"],
                        help="1 for a user's program, 8 for a service")
    parser.add_argument("--completion", help="the bash completion file to write")
    args = parser.parse_args()
    PROGRAM = args.program

    help_text = run(args.program, "--help")
    verbs = listed_verbs(help_text)
    page = manual_page(args.name, args.version, help_text, verbs, args.see_also, args.section)
    with open(args.man, "w", encoding="utf-8") as out:
        out.write(page)
    # mtime 0 and no file name inside: the same page gives the same bytes.
    with open(args.man + ".gz", "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9, mtime=0) as out:
            out.write(page.encode("utf-8"))
    if args.completion:
        with open(args.completion, "w", encoding="utf-8") as out:
            out.write(completion(args.name, verbs))


if __name__ == "__main__":
    main()

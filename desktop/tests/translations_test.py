#!/usr/bin/env python3
"""Every window text has a finished translation in every language, with the placeholders of its
source: lupdate is run over the sources the build lists into copies of the committed .ts files, so
a text added to the sources without running the update script counts as missing too."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

HOW_TO_UPDATE = (
    "To update: bash scripts/update-translations.sh (adds new texts, marked unfinished, and drops "
    "texts no source holds), then translate each entry marked type=\"unfinished\" in "
    "desktop/translations/velloran_LANGUAGE.ts (linguist FILE.ts, or a text editor: fill "
    "<translation> and remove the mark), keeping every %1, %2 of the source.")

# %1, %L1, %n, %Ln: what Qt fills in. A translation may drop or add %n in a plural form (the
# count is in the numbered argument too), so only the numbered ones must match.
PLACEHOLDER = re.compile(r"%L?(\d+)")


def messages(path):
    """(context, source, comment) -> (numerus, unfinished, [translations]) of a .ts file."""
    found = {}
    for context in ElementTree.parse(path).getroot().iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            key = (name, message.findtext("source"), message.findtext("comment") or "")
            translation = message.find("translation")
            kind = translation.get("type", "") if translation is not None else "unfinished"
            numerus = message.get("numerus") == "yes"
            if numerus:
                texts = [form.text or "" for form in translation.iter("numerusform")]
            else:
                texts = [translation.text or ""] if translation is not None else [""]
            found[key] = (numerus, kind in ("unfinished", "vanished", "obsolete"), texts)
    return found


def shown(key):
    context, source, comment = key
    text = source.replace("\n", "\\n")
    return f'  [{context}] "{text}"' + (f" ({comment})" if comment else "")


def check(committed_path, merged_path):
    problems = []
    committed = messages(committed_path)
    merged = messages(merged_path)
    missing = [key for key, (_, unfinished, _) in merged.items() if unfinished]
    if missing:
        problems.append(f"{len(missing)} source text(s) lack a finished translation:")
        problems.extend(shown(key) for key in missing)
    stale = [key for key in committed if key not in merged]
    if stale:
        problems.append(f"{len(stale)} text(s) no source holds any more (run the script):")
        problems.extend(shown(key) for key in stale)
    for key, (numerus, unfinished, texts) in committed.items():
        if unfinished or key not in merged:
            continue
        wanted = sorted(set(PLACEHOLDER.findall(key[1])))
        for text in texts:
            if not text.strip():
                problems.append(f"an empty translation of\n{shown(key)}")
            elif sorted(set(PLACEHOLDER.findall(text))) != wanted:
                problems.append(
                    f"the placeholders of\n{shown(key)}\n  are %{', %'.join(wanted) or '-'}; the "
                    f"translation \"{text}\" has "
                    f"%{', %'.join(sorted(set(PLACEHOLDER.findall(text)))) or '-'}")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lupdate", required=True)
    parser.add_argument("--project-cmake", required=True)
    parser.add_argument("--project-generator", required=True)
    parser.add_argument("--options", default="")
    parser.add_argument("ts_files", nargs="+")
    args = parser.parse_args()
    failed = False
    with tempfile.TemporaryDirectory() as work:
        project = os.path.join(work, "project.json")
        subprocess.run(["cmake", f"-DIN_FILE={args.project_cmake}", f"-DOUT_FILE={project}", "-P",
                        args.project_generator], check=True)
        for ts_file in args.ts_files:
            merged = os.path.join(work, os.path.basename(ts_file))
            shutil.copyfile(ts_file, merged)
            subprocess.run([args.lupdate, "-project", project, *args.options.split("|"), "-ts",
                            merged], check=True, stdout=subprocess.DEVNULL)
            problems = check(ts_file, merged)
            if problems:
                failed = True
                print(f"{os.path.basename(ts_file)}:\n" + "\n".join(problems) + "\n")
            else:
                print(f"{os.path.basename(ts_file)}: complete")
    if failed:
        print(HOW_TO_UPDATE)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Generates dicom10/dictionary_table.inc, the toolkit's data dictionary, from the PS3.6 and PS3.7
data dictionary that Debian's python3-pydicom ships (pydicom/_dicom_dict.py).

Run it with Debian's interpreter, which has the python3-pydicom module:

    /usr/bin/python3 dicom10/tools/generate_dictionary.py            # rewrites the table
    /usr/bin/python3 dicom10/tools/generate_dictionary.py --check    # exit 1 if it is stale

How the rows differ from the source dictionary, and why:

* Only the groups in KEPT_GROUPS are taken: the command group 0000, the file meta and directory
  groups, the standard data groups the toolkit meets, and the repeating curve (50xx) and overlay
  (60xx) groups, which get rows for 5000 and 6000 only (there is no masking at lookup time, so
  6002,3000 is not found). Private and odd groups never appear.
* Every kept group has a group length row (gggg,0000) "UL" named "Group Length"; for 7FE0 it is
  "Group 7FE0 Length". The source's own names for 0000,0000 and 0002,0000 are replaced. FFFA,
  FFFC and FFFE are no groups of data elements (a signature sequence, the trailing padding, the
  item and delimiter tags) and get none.
* Retired attributes keep their name followed by " (RET)".
* Where an attribute has two VRs ("US or SS", "OB or OW", "US or OW"), the row holds the second
  one and the name ends with the first one and "or", e.g. (0028,0106) "SS" "Smallest Image Pixel
  Value US or". The second VR is the safe choice for encoding: for the OB/OW and US/OW pairs it is
  the one with the 32-bit explicit-VR length, which can carry any value. With three VRs ("US or SS
  or OW") the row holds the last one, OW, for the same reason, and the name ends with
  "US or SS or". Pixel Data (7FE0,0010) is the exception: "OW", named plainly "Pixel Data".
* VRs added to the standard after the toolkit's first table ("OD", "OL", "OV", "SV", "UC", "UR",
  "UV") are kept as they are: HasLongLength in dcmtag.cpp knows all of them, so an element of
  these VRs is written and read with the reserved field and the 32-bit length that DCMTK and
  pydicom expect. Mapping them to an older VR would either change the length field (a "UC" or
  "UR" value read as "LO" or "ST" would get a 16-bit length) or mislabel binary data.
* Item, Item Delimitation Item and Sequence Delimitation Item get the pseudo-VR "DL" (the source
  says "NONE"); (FFFA,FFFA) stays "SQ" and (FFFC,FFFC) "OB".
* Names are Windows-1252 text. The long-standing patient, physician, operator and manufacturer
  names in TYPOGRAPHIC_APOSTROPHE are written with the right single quotation mark (byte 0x92),
  as operators know them from earlier tables; every other apostrophe stays plain. A spaced hyphen
  between two words of a name (" - ", as in "Overlay Descriptor - Gray") becomes the en dash
  (byte 0x96).
* The rows are sorted by (group, element).
"""

import argparse
import importlib.util
import os
import re
import sys

SOURCE = "/usr/lib/python3/dist-packages/pydicom/_dicom_dict.py"
HERE = os.path.dirname(os.path.abspath(__file__))
TARGET = os.path.join(HERE, "..", "dictionary_table.inc")

KEPT_GROUPS = [
    0x0000, 0x0002, 0x0004, 0x0008, 0x0010, 0x0012, 0x0018, 0x0020, 0x0022, 0x0028, 0x0032,
    0x0038, 0x003A, 0x0040, 0x0042, 0x0050, 0x0054, 0x0060, 0x0070, 0x0072, 0x0088, 0x0100,
    0x0400, 0x2000, 0x2010, 0x2020, 0x2030, 0x2040, 0x2050, 0x2100, 0x2110, 0x2120, 0x2130,
    0x2200, 0x3002, 0x3004, 0x3006, 0x3008, 0x300A, 0x300C, 0x300E, 0x4000, 0x4008, 0x4FFE,
    0x5000, 0x5200, 0x5400, 0x5600, 0x6000, 0x7FE0, 0xFFFA, 0xFFFC, 0xFFFE,
]

# Groups that hold one or three special tags rather than data elements: they get no group length.
SPECIAL_GROUPS = {0xFFFA, 0xFFFC, 0xFFFE}

# Keywords of the attributes whose names carry the typographic apostrophe (byte 0x92).
TYPOGRAPHIC_APOSTROPHE = {
    "ReferringPhysicianName", "ReferringPhysicianAddress", "ReferringPhysicianTelephoneNumbers",
    "PerformingPhysicianName", "OperatorsName", "ManufacturerModelName",
    "PatientName", "PatientBirthDate", "PatientBirthTime", "PatientSex", "PatientAge",
    "PatientSize", "PatientWeight", "PatientAddress", "PatientMotherBirthName",
    "PatientTelephoneNumbers", "PatientReligiousPreference", "PatientInsurancePlanCodeSequence",
    "PatientPrimaryLanguageCodeSequence", "PatientPrimaryLanguageModifierCodeSequence",
}

# Attributes whose two VRs the older tables listed the other way round; the row follows them.
VR_ORDER = {
    (0x5000, 0x3000): "OW or OB",  # Curve Data
}

# Every VR a row may hold. Anything else in the source stops the generator, so that a VR nobody
# has thought about never reaches the encoder unnoticed.
KNOWN_VRS = {
    "AE", "AS", "AT", "CS", "DA", "DL", "DS", "DT", "FD", "FL", "IS", "LO", "LT", "OB", "OD",
    "OF", "OL", "OV", "OW", "PN", "SH", "SL", "SQ", "SS", "ST", "SV", "TM", "UC", "UI", "UL",
    "UN", "UR", "US", "UT", "UV",
}


def load_source(path):
    module_spec = importlib.util.spec_from_file_location("source_dictionary", path)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module.DicomDictionary, module.RepeatersDictionary


def repeater_tag(mask):
    """The one tag a repeater mask stands for in the table: 50xx and 60xx become 5000 and 6000,
    and an 'x' inside the element becomes 0 (e.g. 002804x0 -> (0028,0400))."""
    group = int(mask[:4].replace("x", "0"), 16)
    element = int(mask[4:].replace("x", "0"), 16)
    return group, element


def row_vr_and_name(group, element, vr, name, retired, keyword):
    if keyword in TYPOGRAPHIC_APOSTROPHE:
        if "'" not in name:
            sys.exit(f"no apostrophe to make typographic in {name!r}")
        name = name.replace("'", "\u2019")  # cp1252 byte 0x92
    name = name.replace(" - ", " \u2013 ")  # cp1252 byte 0x96

    vr = VR_ORDER.get((group, element), vr)
    if group == 0xFFFE:
        vr = "DL"
    choices = [choice.strip() for choice in vr.split(" or ")]
    if (group, element) == (0x7FE0, 0x0010):
        vr = "OW"
    elif len(choices) > 1:
        vr = choices[-1] if len(choices) > 2 else choices[1]
        name = f"{name} {' or '.join(choices[:-1])} or"
    if retired:
        name += " (RET)"
    if vr not in KNOWN_VRS:
        sys.exit(f"({group:04X},{element:04X}) {name!r}: VR {vr!r} has no mapping")
    return vr, name


def build_rows(dictionary, repeaters):
    kept = set(KEPT_GROUPS)
    rows = {}

    def put(group, element, entry):
        vr, _vm, name, retired, keyword = entry
        if group not in kept or (group, element) in rows:
            return
        rows[(group, element)] = row_vr_and_name(group, element, vr, name,
                                                 retired == "Retired", keyword)

    for tag, entry in dictionary.items():
        put(tag >> 16, tag & 0xFFFF, entry)
    for mask, entry in repeaters.items():
        group, element = repeater_tag(mask)
        put(group, element, entry)
    for group in KEPT_GROUPS:
        if group in SPECIAL_GROUPS:
            continue
        name = "Group 7FE0 Length" if group == 0x7FE0 else "Group Length"
        rows[(group, 0x0000)] = ("UL", name)
    return sorted((group, element, vr, name) for (group, element), (vr, name) in rows.items())


def c_string(text):
    """A C++ string literal of Windows-1252 text. A hex escape swallows every hex digit after it,
    so a literal is closed and reopened after an escape that a hex digit follows."""
    encoded = text.encode("cp1252")
    out = '"'
    after_escape = False
    for byte in encoded:
        char = chr(byte)
        if after_escape and re.match(r"[0-9A-Fa-f]", char):
            out += '" "'
        after_escape = False
        if byte >= 0x80 or byte < 0x20:
            out += f"\\x{byte:02X}"
            after_escape = True
        elif char in '"\\':
            out += "\\" + char
        else:
            out += char
    return out + '"'


def render(rows):
    lines = [
        "// The data dictionary rows, sorted by tag. Generated by"
        " dicom10/tools/generate_dictionary.py;",
        "// edit the generator, not this file.",
        "// clang-format off",
        "constexpr DictionaryRow kDictionary[] = {",
    ]
    for group, element, vr, name in rows:
        lines.append(f'    {{0x{group:04X}, 0x{element:04X}, "{vr}", {c_string(name)}}},')
    lines += ["};", "// clang-format on", ""]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", default=SOURCE, help="pydicom's _dicom_dict.py")
    parser.add_argument("--output", default=TARGET)
    parser.add_argument("--check", action="store_true",
                        help="only compare with the committed table; exit 1 when it differs")
    args = parser.parse_args()

    dictionary, repeaters = load_source(args.source)
    text = render(build_rows(dictionary, repeaters))
    if args.check:
        with open(args.output, encoding="ascii") as existing:
            if existing.read() != text:
                print(f"{args.output} is not what the generator makes", file=sys.stderr)
                return 1
        return 0
    with open(args.output, "w", encoding="ascii", newline="\n") as out:
        out.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())

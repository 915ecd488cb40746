#!/usr/bin/env python3
"""Checks the window program's translations against its sources.

  check-translations.py FRESH_TS REPO_TS SOURCE...

FRESH_TS is REPO_TS brought up to date by lupdate from the sources (scripts/check-translations.sh
makes it in a temporary folder). Fails, naming each text, when a visible text of the sources has
no finished translation in REPO_TS (new, unfinished or empty), when REPO_TS keeps texts the
sources no longer have, and when a visible text is handed to a window as a bare string literal,
past tr()."""

import re
import sys
import xml.etree.ElementTree as ET


def messages(path):
    found = {}
    for context in ET.parse(path).getroot().iter('context'):
        name = context.findtext('name')
        for message in context.iter('message'):
            translation = message.find('translation')
            finished = (translation is not None and translation.get('type') is None
                        and (translation.text or '') != '')
            found[(name, message.findtext('source'))] = finished
    return found


# Calls that put a text on the screen, and which of their arguments (from 0) are such texts.
VISIBLE_ARGUMENTS = {
    'setText': [0], 'setWindowTitle': [0], 'setToolTip': [0], 'setStatusTip': [0],
    'setWhatsThis': [0], 'setPlaceholderText': [0], 'setAccessibleName': [0],
    'setAccessibleDescription': [0], 'setTitle': [0], 'setLabelText': [0], 'setFormat': [0],
    'setInformativeText': [0], 'setDetailedText': [0], 'showMessage': [0], 'addMenu': [0],
    'addAction': [0], 'addRow': [0], 'setHeaderLabels': [0], 'setTabText': [1],
    'Error': [1, 2], 'Warning': [1, 2], 'Information': [1, 2], 'Question': [1, 2],
    'InputQuery': [1, 2], 'OpenFileName': [1, 3], 'SaveFileName': [1, 3],
    'NewMessageBox': [2, 3], 'NewInputQuery': [1, 2], 'AddMenuItem': [1], 'item': [1],
    'Announce': [1],
}
CALL = re.compile(r'\b(' + '|'.join(VISIBLE_ARGUMENTS) + r')\s*\(')
LITERAL = re.compile(r'^(?:(?:QStringLiteral|QString|QLatin1String|QLatin1StringView|QStringView)\s*\(\s*)?u?8?"')


def without_comments(code):
    # Keeps string literals and line numbers; blanks // and /* */ comments.
    out, i, n = [], 0, len(code)
    while i < n:
        if code.startswith('//', i):
            j = code.find('\n', i)
            j = n if j < 0 else j
            out.append(' ' * (j - i)); i = j
        elif code.startswith('/*', i):
            j = code.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', code[i:j])); i = j
        elif code[i] in '"\'':
            quote, j = code[i], i + 1
            while j < n and code[j] != quote:
                j += 2 if code[j] == '\\' else 1
            out.append(code[i:j + 1]); i = j + 1
        else:
            out.append(code[i]); i += 1
    return ''.join(out)


def arguments(code, start):
    """The top-level arguments of the call whose '(' is at start-1."""
    args, depth, i, begin = [], 0, start, start
    while i < len(code):
        c = code[i]
        if c in '"\'':
            j = i + 1
            while j < len(code) and code[j] != c:
                j += 2 if code[j] == '\\' else 1
            i = j
        elif c in '([{':
            depth += 1
        elif c in ')]}':
            if depth == 0:
                args.append(code[begin:i])
                return args
            depth -= 1
        elif c == ',' and depth == 0:
            args.append(code[begin:i]); begin = i + 1
        i += 1
    return args


def bare_literals(path):
    code = without_comments(open(path, encoding='utf-8').read())
    for call in CALL.finditer(code):
        args = arguments(code, call.end())
        for index in VISIBLE_ARGUMENTS[call.group(1)]:
            if index >= len(args):
                continue
            arg = args[index].strip()
            literal = LITERAL.match(arg)
            if literal is None:
                continue
            text = arg[literal.end():].split('"', 1)[0]
            if re.search(r'[A-Za-z]{2}', text):  # words; "..." or "" show nothing to translate
                line = code.count('\n', 0, call.start()) + 1
                yield f'{path}:{line}: {call.group(1)}() shows "{text}" without tr()'


def main():
    fresh_path, repo_path, sources = sys.argv[1], sys.argv[2], sys.argv[3:]
    fresh, repo = messages(fresh_path), messages(repo_path)
    problems = []
    for key in fresh:
        if key not in repo:
            problems.append(f'{repo_path}: no entry for {key[0]} "{key[1]}"')
        elif not repo[key]:
            problems.append(f'{repo_path}: unfinished: {key[0]} "{key[1]}"')
    for key in repo:
        if key not in fresh:
            problems.append(f'{repo_path}: no longer in the sources: {key[0]} "{key[1]}"')
    for source in sources:
        if source.endswith(('.cpp', '.h')):
            problems.extend(bare_literals(source))
    for problem in problems:
        print(problem)
    if problems:
        print(f'{len(problems)} problem(s); run scripts/update-translations.sh, translate what is new '
              f'(see translations/GLOSSARY.md) and wrap visible texts in tr()')
        return 1
    print(f'{repo_path}: {sum(repo.values())} texts translated, none missing')
    return 0


if __name__ == '__main__':
    sys.exit(main())

# Prints the cells of every sheet of an .xlsx as JSON, read by openpyxl: a reader of our
# own export that is not ours. Exit status 77 when openpyxl is not installed.
import json, sys
try:
    import openpyxl
    from openpyxl.utils.escape import unescape
except ImportError:
    sys.exit(77)
book = openpyxl.load_workbook(sys.argv[1], read_only=True)
sheets = []
for sheet in book.worksheets:
    rows = []
    for row in sheet.iter_rows(values_only=True):
        # Its read-only mode leaves the _xHHHH_ escapes of control characters as they are.
        rows.append([None if v is None else {'type': type(v).__name__, 'value': unescape(v) if isinstance(v, str) else v}
                     for v in row])
    sheets.append({'name': sheet.title, 'rows': rows})
print(json.dumps(sheets, ensure_ascii=False))

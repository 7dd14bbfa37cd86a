#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/: the documents, statements, posts and CSV files that
the tests use, plus a deeply nested document. Run it again after changing a seed here."""
import os
import urllib.parse

here = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def document(vendor_count, selected_count, non_selected, selected):
    def records(vendors):
        return "".join(f"<Vendor><ID>{i}</ID><Name>{n}</Name></Vendor>" for i, n in vendors)
    return ('<?xml version="1.0" encoding="utf-8"?><Vendors><Header><Counts><VendorCount>'
            f"{vendor_count}</VendorCount><SelectedCount>{selected_count}</SelectedCount>"
            f"</Counts></Header><NonSelected>{records(non_selected)}</NonSelected><Selected>"
            f"{records(selected)}</Selected></Vendors>")


# The control's vendor document reader.
write("fuzz_vendor_document", "two-lists.xml",
      document(2, 1, [(17, "Seventeen"), (5, "Five")], [(2, "Two")]))
write("fuzz_vendor_document", "empty-lists.xml", document(0, 0, [], []))
write("fuzz_vendor_document", "entities-and-cdata.xml",
      document(2, 0, [(1, "Smith &amp; Sons"), (2, "<![CDATA[a<b]]>")], []))
write("fuzz_vendor_document", "server-layout.xml",
      '<?xml version="1.0" encoding="utf-8"?><VendorDocument><Header><Counts><VendorCount>1'
      "</VendorCount><SelectedCount>1</SelectedCount></Counts></Header><Vendors><Vendor>"
      "<VendorID>3</VendorID><VendorName>Caf\u00e9 M\u00fcller</VendorName></Vendor></Vendors>"
      "<SelectedVendors><Vendor><VendorID>4</VendorID><VendorName>Acme</VendorName></Vendor>"
      "</SelectedVendors></VendorDocument>")
write("fuzz_vendor_document", "nodes-by-position.xml",
      "<a>\n  <b><c> 3 </c><d>x<!--note-->y</d></b>\n</a>")
write("fuzz_vendor_document", "comments-instructions.xml",
      "<r><!--first--><?pi data?><![CDATA[<raw>]]><e><![CDATA[a&b]]></e></r>")
write("fuzz_vendor_document", "counts-overflow.xml", document(32767, 1, [], []))
write("fuzz_vendor_document", "not-a-number.xml", document("x", 1, [], []))
write("fuzz_vendor_document", "windows-1252.xml",
      '<?xml version="1.0" encoding="windows-1252"?><V><H><C><A>1</A><B>0</B></C></H>'
      "<N><R><I>9</I><M>Caf\xe9 \x80</M></R></N><S/></V>".encode("latin-1"))
# A count and a vendor name nested 1,000 elements deep: deeper than any real document, small
# enough that the fuzzer keeps its pace. Far deeper ones are run once per fuzz test (see
# CMakeLists.txt), not mutated.
depth = 1000
write("fuzz_vendor_document", "nested-count.xml",
      "<d><h><c>" + "<n>" * depth + "5" + "</n>" * depth + "<b>0</b></c></h><l/><s/></d>")
write("fuzz_vendor_document", "nested-name.xml",
      "<d><h><c><a>1</a><b>0</b></c></h><l><r><i>7</i><m>" + "<n>" * depth + "Acme" +
      "</n>" * depth + "</m></r></l><s/></d>")

# The server's statement parser.
insert = ("INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,RecordLastUpdated) "
          "VALUES (42,123,GETDATE() ) ")
delete = "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=42 AND VendorID IN(456,900)"
write("fuzz_statement_parser", "insert.sql", insert)
write("fuzz_statement_parser", "delete.sql", delete)
write("fuzz_statement_parser", "spacing-and-case.sql",
      "  insert into vendoremployeecrossreference(employeeid , vendorid,"
      "recordlastupdated)values(42 ,\t123,getdate ( ))")
write("fuzz_statement_parser", "leading-zeros.sql",
      "DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=-7 AND VendorID IN(000456,7)")
write("fuzz_statement_parser", "injection.sql", insert + "; DROP TABLE Vendor --")


def body(statements, name="SQL"):
    return "".join(f"{name}={urllib.parse.quote_plus(s, safe='*-._')}&" for s in statements)


def insert_for(employee, vendor):
    return ("INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,RecordLastUpdated) "
            f"VALUES ({employee},{vendor},GETDATE() ) ")


def delete_for(employee, vendors):
    return (f"DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID={employee} AND VendorID "
            f"IN({','.join(str(v) for v in vendors)})")


# Form decoding and whole posts. Vendors 1-12 are active and 13-16 inactive in the post target.
typical_moves = body([insert_for(42, 123), insert_for(42, 77), delete_for(42, [456, 900])])
write("fuzz_form_decoding", "typical-moves.txt", typical_moves)
write("fuzz_form_decoding", "empty-pairs.txt", "&SQL=a&&Other=b&SQL=&")
write("fuzz_form_decoding", "windows-1252.txt", "SQL=Caf%E9+%80%9F&x=%2B")
write("fuzz_change_post", "typical-moves.txt", typical_moves)
write("fuzz_change_post", "applies.txt",
      body([insert_for(42, 4), insert_for(7, 6), delete_for(42, [1, 2, 99])]))
write("fuzz_change_post", "inactive-vendor.txt", body([insert_for(42, 5), insert_for(42, 14)]))
write("fuzz_change_post", "other-field.txt", body([insert_for(42, 5)]) + "Other=1&")
write("fuzz_change_post", "bad-statement.txt", body([insert_for(42, 5), "DROP TABLE Vendor"]))
write("fuzz_change_post", "many-statements.txt",
      body([insert_for(e, v) for e in range(1, 30) for v in range(1, 13)]
           + [delete_for(e, range(1, 7)) for e in range(1, 30)]))

# CSV import.
write("fuzz_vendor_import", "plain-and-quoted.csv",
      "id,name,active\r\n1,Alpha Supply,1\r\n\r\n0002, \"Smith, Jones & \"\"Sons\"\"\" ,false\n"
      "3,Caf\u00e9 M\u00fcller,YES\n")
write("fuzz_vendor_import", "bad-lines.csv",
      "id,name,active\n1,Good,1\nx,Bad id,1\n3,   ,1\n4,Bad flag,maybe\n5,\"unclosed,1\n"
      "6,Too,many,1\n-7,Negative,1\n".encode() + b"8,Caf\xe9,1\n")
write("fuzz_vendor_import", "byte-order-mark.csv", "\ufeffID,Name,Active\n9,Repeated,no\n9,Again,1\n")

# urlEncode: UTF-16 text, as the control holds it.
for name, text in [("ascii.txt", "Acme Supply *-._ 42"), ("code-page.txt", "Caf\u00e9 \u20ac \u0178"),
                   ("outside.txt", "\u4e2d \U0001F600 \u0080"), ("statement.txt", insert)]:
    write("fuzz_url_encode", name, text.encode("utf-16-le"))
write("fuzz_url_encode", "unpaired-surrogate.txt", b"\x00\xd8A\x00")

# Views of the view tests; every layout rule of the C compiler shows in
# one of them: char next to double, short count members, unsigned short
# length arrays, arrays of text.
$/* shop views */
VIEW item
#type    cname   fbname       count flag  size null
long     no      ITEM_NO      1     -     -    -1
string   name    ITEM_NAME    1     -     12   "none"
char     grade   ITEM_GRADE   1     -     -    'x'
double   price   ITEM_PRICE   1     -     -    -
short    qty     ITEM_QTY     3     C     -    0
carray   code    ITEM_CODE    2     L     4    "\0\1"
float    weight  ITEM_WEIGHT  1     -     -    1.5
string   tags    ITEM_TAGS    3     C,L   8    "-"
int      level   ITEM_LEVEL   1     -     -    7
mbstring text    ITEM_TEXT    1     -     24   -
string   note    ITEM_NOTE    1     F     10   -
char     spare   -            2     -     -    -
END

VIEW filled
string   stars   ITEM_NAME    2     P     6    "a*"
carray   dots    ITEM_CODE    1     P     5    "."
long     plain   ITEM_NO      1     S     -    NONE
long     typed   -            1     -     -    -
-        price   ITEM_PRICE   1     -     -    2.25
END

VIEW mixed
long     no      ITEM_NO      1     -     -    -
string   sub     ITEM_SUB     1     -     10   -
END

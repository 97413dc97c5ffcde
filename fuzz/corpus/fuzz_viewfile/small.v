VIEW v
short  a  F_S  2  C    -  7
string t  F_T  3  L,P  5  "x\101"
carray c  F_A  1  S    4  "\0\1"
-      d  F_D  1  -    -  2.5
mbstring m F_M 1  -    9  -
char   k  F_C  1  N    -  'q'
END

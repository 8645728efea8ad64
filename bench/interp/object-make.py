class Proto:
    def __init__(self, a, b, c):
        self.a = a
        self.b = b
        self.c = c
s = 0
for i in range(1, 1000001):
    o = Proto(i, 2, 3)
    s = s + o.a
print(s)

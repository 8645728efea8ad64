# Two small multiplicative generators combined: every product fits in 32 bits.
b = []
x, y = 1, 2
for _ in range(1000000):
    x = x * 171 % 30269
    y = y * 172 % 30307
    b.append(x * 30307 + y)
# Five sorts of fresh copies, so that the sorting stands well above the start-up's time.
for _ in range(5):
    c = b.copy()
    c.sort()
print(c[0], c[999999])

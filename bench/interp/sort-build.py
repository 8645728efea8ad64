b = []
x, y = 1, 2
for _ in range(1000000):
    x = x * 171 % 30269
    y = y * 172 % 30307
    b.append(x * 30307 + y)
print(b[0], b[999999])

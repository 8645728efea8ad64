b = []
for i in range(1, 1000001):
    b.append(i % 1000)
print(len(b))

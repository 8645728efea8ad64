import hashlib
data = bytes.fromhex("00112233445566778899AABBCCDDEEFF") * 6250000
for _ in range(5):
    digest = hashlib.sha256(data).digest()
print(len(data))

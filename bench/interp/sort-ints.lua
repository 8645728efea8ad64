-- Two small multiplicative generators combined: every product fits in 32 bits.
local b = {}
local x, y = 1, 2
for i = 1, 1000000 do
  x = x * 171 % 30269
  y = y * 172 % 30307
  b[i] = x * 30307 + y
end
-- Five sorts of fresh copies, so that the sorting stands well above the start-up's time.
local c
for _ = 1, 5 do
  c = table.move(b, 1, #b, 1, {})
  table.sort(c)
end
print(c[1], c[1000000])

[playlist]
File1=a.mp3
File2=http://x/y
File99999999999=z
NumberOfEntries=3

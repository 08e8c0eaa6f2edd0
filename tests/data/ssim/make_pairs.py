import numpy as np, zlib, struct
from skimage.metrics import structural_similarity as ssim
from scipy.ndimage import gaussian_filter
def png(path, arr):
    h,w,c=arr.shape; depth=16 if arr.dtype==np.uint16 else 8
    raw=b''.join(b'\0'+(arr[r].astype('>u2').tobytes() if depth==16 else arr[r].tobytes()) for r in range(h))
    def chunk(t,d): return struct.pack('>I',len(d))+t+d+struct.pack('>I',zlib.crc32(t+d)&0xffffffff)
    open(path,'wb').write(b'\x89PNG\r\n\x1a\n'+chunk(b'IHDR',struct.pack('>IIBBBBB',w,h,depth,2,0,0,0))+chunk(b'IDAT',zlib.compress(raw,9))+chunk(b'IEND',b''))
rng=np.random.default_rng(7)
h,w=40,48
y,x=np.mgrid[0:h,0:w]
a=np.zeros((h,w,3),np.float64)
a[...,0]=x*5; a[...,1]=y*6; a[...,2]=128+100*np.sin(x/3.0)*np.cos(y/4.0)
a[(x//6+y//6)%2==0,1]+=40
a=np.clip(a,0,255).astype(np.uint8)
noisy=np.clip(a.astype(int)+rng.integers(-20,21,a.shape),0,255).astype(np.uint8)
blur=np.clip(np.round(gaussian_filter(a.astype(float),sigma=(1.2,1.2,0))),0,255).astype(np.uint8)
png('a.png',a); png('noisy.png',noisy); png('blurred.png',blur)
a16=(a.astype(np.uint32)*257).astype(np.uint16)
n16=np.clip(a16.astype(np.int64)+rng.integers(-3000,3001,a.shape),0,65535).astype(np.uint16)
png('a16.png',a16); png('noisy16.png',n16)
def S(p,q,r): return ssim(p,q,channel_axis=2,gaussian_weights=True,sigma=1.5,use_sample_covariance=False,data_range=r)
for n,(p,q,r) in {'a-noisy':(a,noisy,255),'a-blurred':(a,blur,255),'a-a':(a,a,255),'a16-noisy16':(a16,n16,65535)}.items():
    print(n, repr(S(p,q,r)))

// Minimal sender: cost of the kernel path per datagram on this machine.
// usage: minsend MODE RATE_BPS SECONDS PORT
//  MODE sleep  : clock_nanosleep(ABSTIME) per datagram, no send
//       pace   : clock_nanosleep(ABSTIME) + send() per datagram (like refplay)
//       send   : send() per datagram back to back, paced per 1 ms (one sleep per ms)
//       mmsg   : sendmmsg of the 1 ms worth per 1 ms
// prints CPU (user+sys) per stream second and per datagram.
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
static long long now(void){struct timespec t;clock_gettime(CLOCK_MONOTONIC,&t);return t.tv_sec*1000000000LL+t.tv_nsec;}
static void until(long long ns){struct timespec t={ns/1000000000LL,ns%1000000000LL};clock_nanosleep(CLOCK_MONOTONIC,TIMER_ABSTIME,&t,NULL);}
int main(int c,char**v){
  if(c<5){fprintf(stderr,"usage: minsend sleep|pace|send|mmsg RATE_BPS SECONDS PORT\n");return 2;}
  const char*mode=v[1];double rate=atof(v[2]);double secs=atof(v[3]);int port=atoi(v[4]);
  int s=socket(AF_INET,SOCK_DGRAM,0);struct sockaddr_in a={0};a.sin_family=AF_INET;a.sin_port=htons(port);a.sin_addr.s_addr=htonl(0x7f000001);
  connect(s,(void*)&a,sizeof a);
  static unsigned char buf[64][1328];memset(buf,0x47,sizeof buf);
  double per=1328*8/rate*1e9; long long n=(long long)(secs*1e9/per);
  long long t0=now()+1000000;
  if(!strcmp(mode,"sleep")||!strcmp(mode,"pace")){
    for(long long i=0;i<n;i++){until(t0+(long long)(i*per)); if(mode[0]=='p') send(s,buf[0],1328,0);}
  } else {
    struct mmsghdr m[64];struct iovec io[64];
    for(int k=0;k<64;k++){io[k].iov_base=buf[k];io[k].iov_len=1328;memset(&m[k],0,sizeof m[k]);m[k].msg_hdr.msg_iov=&io[k];m[k].msg_hdr.msg_iovlen=1;}
    long long sent=0;for(long long ms=1;sent<n;ms++){until(t0+ms*1000000LL);long long due=(long long)(ms*1e6/per)-sent; if(due>64)due=64;
      if(!strcmp(mode,"send")) for(int k=0;k<due;k++) send(s,buf[k],1328,0); else if(due>0) sendmmsg(s,m,due,0); sent+=due;}
  }
  struct rusage r;getrusage(RUSAGE_SELF,&r);double cpu=r.ru_utime.tv_sec+r.ru_utime.tv_usec/1e6+r.ru_stime.tv_sec+r.ru_stime.tv_usec/1e6;
  printf("mode=%s rate=%.0f dgrams=%lld cpu_s=%.3f cpu_per_stream_s=%.4f us_per_dgram=%.2f user=%.3f sys=%.3f\n",mode,rate,n,cpu,cpu/secs,cpu/n*1e6,r.ru_utime.tv_sec+r.ru_utime.tv_usec/1e6,r.ru_stime.tv_sec+r.ru_stime.tv_usec/1e6);
  return 0;}

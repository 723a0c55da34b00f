/* A DLL (so it has relocations) with data inside its code section, as some
   compilers place it: one long jump table, one short table reached through a
   byte index table, and a string. The listing must keep all of it out of the code,
   and no more. */
__asm__(
    ".text\n"
    ".globl _Dispatch\n"
    "_Dispatch:\n"
    "    movl 4(%esp), %eax\n"
    "    cmpl $3, %eax\n"
    "    ja 9f\n"
    "    jmp *1f(,%eax,4)\n"
    "    .p2align 2\n"
    "1:  .long 10f, 11f, 12f, 13f\n"
    "10: movl $1, %eax\n"
    "    ret\n"
    "11: movl $2, %eax\n"
    "    ret\n"
    "12: movl $3, %eax\n"
    "    ret\n"
    "13: movl $4, %eax\n"
    "    ret\n"
    "9:  xorl %eax, %eax\n"
    "    ret\n"
    ".globl _Select\n"
    "_Select:\n"
    "    movl 4(%esp), %eax\n"
    "    andl $3, %eax\n"
    "    movzbl 3f(%eax), %eax\n"
    "    jmp *2f(,%eax,4)\n"
    "    .p2align 2\n"
    "2:  .long 20f, 21f\n"
    "3:  .byte 0, 1, 1, 0\n"
    "20: movl $5, %eax\n"
    "    ret\n"
    "21: movl $6, %eax\n"
    "    ret\n"
    ".globl _Greeting\n"
    "_Greeting:\n"
    "    movl $4f, %eax\n"
    "    ret\n"
    "4:  .asciz \"Text kept in the code\"\n"
    "    movl $7, %eax\n"
    "    ret\n"
    /* A function whose first bytes read like a short string (VWSh): code all the same. */
    ".globl _Plain\n"
    "_Plain:\n"
    "    movl $5f, %eax\n"
    "    ret\n"
    "5:  pushl %esi\n"
    "    pushl %edi\n"
    "    pushl %ebx\n"
    "    pushl $0x1000\n"
    "    popl %eax\n"
    "    popl %ebx\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    ret\n");

int Dispatch(int);
int Select(int);
const char* Greeting(void);
void* Plain(void);

__declspec(dllexport) int __stdcall Both(int i)
{
    return Dispatch(i) + Select(i) + Greeting()[0] + (Plain() != 0);
}

int __stdcall DllMainCRTStartup(void* module, unsigned reason, void* reserved)
{
    (void)module;
    (void)reason;
    (void)reserved;
    return 1;
}
